// timeline.json: the firmware's timeline in the Chrome trace event format
// (JSON object form), which Perfetto's UI, chrome://tracing and speedscope
// open. Timestamps are microseconds of virtual time. Tracks: one per context
// (start-up, idle, each thread: running, ready and blocked slices), one per
// interrupt, one per bus and one for the fault windows; flows from each
// queued message's put to the get that took it; counters for each queue's
// depth, the core's load per context every 100 ms and the platform's angles
// on the trace's 20 ms grid.
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "sim/app/outputs/decimal.hpp"
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writers.hpp"
#include "sim/app/thread_stats.hpp"
#include "sim/models/can_bus.hpp"
#include "sim/platform.hpp"

namespace sim {

namespace {

// Process ids of the track groups.
constexpr int kThreads = 1, kInterrupts = 2, kBuses = 3, kCounters = 4;
// Bus tracks.
constexpr int kCan1 = 1, kCan2 = 2, kI2c = 3, kFaults = 4;
constexpr Picos kLoadPeriod = 100 * kPsPerMs;  // a chosen value

int context_tid(int context) {
    return context + 3;  // start-up 1, idle 2, threads from 3
}

std::string quoted(const std::string& text) {
    return nlohmann::json(text).dump();
}

// "TIM1_UP_TIM10" for TIM1_UP_TIM10_IRQHandler.
std::string irq_name(int irqn) {
    std::string name = vector_name(irqn);
    const std::size_t suffix = name.rfind("_IRQHandler");
    return suffix == std::string::npos ? name : name.substr(0, suffix);
}

class TimelineJson : public Writer {
  public:
    TimelineJson(const OutputContext& context, Probes& probes)
        : context_(context),
          board_(probes.board),
          stats_(*probes.threads),
          file_(context.dir, "timeline.json") {
        file_.write("{\"displayTimeUnit\":\"ns\",\"traceEvents\":[\n");
        meta(kThreads, 0, "process_name", "threads");
        meta(kInterrupts, 0, "process_name", "interrupts");
        meta(kBuses, 0, "process_name", "buses");
        meta(kCounters, 0, "process_name", "counters");
        meta(kThreads, context_tid(kStartupContext), "thread_name", "start-up");
        meta(kThreads, context_tid(kIdleThread), "thread_name", "idle");
        meta(kBuses, kCan1, "thread_name", "CAN1");
        meta(kBuses, kCan2, "thread_name", "CAN2");
        meta(kBuses, kI2c, "thread_name", "I2C (bit-banged)");
        meta(kBuses, kFaults, "thread_name", "fault windows");
        BoardProbes& p = board_.cpu().probes();
        p.thread_created.listen([this](int id, const std::string& name, int priority) {
            meta(kThreads, context_tid(id), "thread_name",
                 name + " (priority " + std::to_string(priority) + ")");
            names_.resize(static_cast<std::size_t>(id) + 1);
            names_[static_cast<std::size_t>(id)] = quoted(name);
            states_.resize(names_.size());
        });
        p.thread_state.listen([this](int id, ThreadState state, Picos at) {
            State& s = states_[static_cast<std::size_t>(id)];
            if (s.name != nullptr) {
                slice(kThreads, context_tid(id), s.name, s.since, at);
            }
            s = {kStateNames[static_cast<int>(state)], at};
        });
        p.thread_switch.listen([this](int from, int to, Picos at) {
            if (from < 0) {
                slice(kThreads, context_tid(from), "running", context_since_, at);
            }
            context_since_ = at;
            running_ = to;
        });
        p.irq_enter.listen([this](int irqn, Picos at) { irqs_.push_back({irqn, at}); });
        p.irq_exit.listen([this](int irqn, Picos at) {
            irq_slice(irqn, irqs_.back().since, at);
            irqs_.pop_back();
        });
        p.queue_created.listen([this](int id, uint32_t capacity, uint32_t size) {
            char text[96];
            std::snprintf(text, sizeof text, "queue %d depth (of %u x %u bytes)", id, capacity,
                          size);
            queue_names_.push_back(quoted(text));
        });
        p.queue_put.listen([this](const QueueOp& op) { queue_op(op, true); });
        p.queue_get.listen([this](const QueueOp& op) { queue_op(op, false); });
        p.can_frame.listen([this](const CanBus& bus, const CanFrame& frame, Picos at) {
            char text[64];
            std::snprintf(text, sizeof text, frame.ide ? "0x%08X%s" : "0x%03X%s",
                          static_cast<unsigned>(frame.id), frame.rtr ? " remote" : "");
            std::string args = "{\"data\":\"";
            for (int i = 0; i < (frame.rtr ? 0 : std::min<int>(frame.dlc, 8)); i++) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02X", frame.data[i]);
                args += hex;
            }
            instant(kBuses, bus_tid(bus), text, at, "t", args + "\"}");
        });
        p.can_error.listen([this](const CanBus& bus, const CanError& error) {
            static const char* const kKinds[] = {"ack", "bit timing", "collision"};
            instant(kBuses, bus_tid(bus), "error frame", error.at, "t",
                    std::string("{\"kind\":\"") + kKinds[error.kind] + "\"}");
        });
        p.i2c_transaction.listen([this](const I2cTransaction& t) {
            char name[48], args[64];
            std::snprintf(name, sizeof name, "0x%02X %s%s", t.address >> 1,
                          (t.address & 1U) ? "read" : "write", t.acked ? "" : " refused");
            std::snprintf(args, sizeof args, "{\"bytes\":%d}", t.bytes);
            slice(kBuses, kI2c, name, t.from, t.until, args);
        });
        p.fault_window.listen([this](const std::string& what, bool open, Picos at) {
            instant(kBuses, kFaults, (open ? "opens: " : "closes: ") + what, at, "t", "{}");
        });
        p.halt.listen([this](const std::string& where, Picos at) {
            instant(kThreads, context_tid(running_), "halt: " + where, at, "g", "{}");
        });
        probes.tick.push_back([this](Picos now) { tick(now); });
    }

    void finish(const RunEnd& end) override {
        // What is still under way ends with the run.
        for (std::size_t id = 0; id < states_.size(); id++) {
            if (states_[id].name == nullptr) {
                continue;
            }
            slice(kThreads, context_tid(static_cast<int>(id)), states_[id].name, states_[id].since,
                  end.at);
        }
        if (running_ < 0) {
            slice(kThreads, context_tid(running_), "running", context_since_, end.at);
        }
        for (const Irq& irq : irqs_) {
            slice(kInterrupts, irq.irqn + 16, irq_label(irq.irqn), irq.since, end.at);
        }
        // The last event, without the comma.
        file_.write(
            "{\"ph\":\"M\",\"pid\":4,\"tid\":0,\"name\":\"process_sort_index\","
            "\"args\":{\"sort_index\":4}}\n]}\n");
        file_.commit();
    }
    bool failed() const override { return file_.failed(); }

  private:
    static constexpr const char* kStateNames[] = {"ready", "running", "blocked", "terminated"};
    struct State {
        const char* name = nullptr;  // null: not yet created
        Picos since = 0;
    };
    struct Irq {
        int irqn;
        Picos since;
    };

    // Microseconds to the nanosecond, the board's finest figure worth showing.
    static char* put_us(char* out, Picos at) {
        char* end = std::to_chars(out, out + 24, at / kPsPerUs).ptr;
        const auto ns = static_cast<unsigned>(at % kPsPerUs / 1000);
        *end++ = '.';
        *end++ = static_cast<char>('0' + ns / 100);
        *end++ = static_cast<char>('0' + ns / 10 % 10);
        *end++ = static_cast<char>('0' + ns % 10);
        return end;
    }
    static void append_us(std::string& out, Picos at) {
        char text[32];
        out.append(text, put_us(text, at));
    }
    static std::string us(Picos at) {
        std::string s;
        append_us(s, at);
        return s;
    }

    // Each interrupt's track is named when it first runs.
    const std::string& irq_label(int irqn) {
        const auto slot = static_cast<std::size_t>(irqn + 16);
        if (slot >= irq_names_.size()) {
            irq_names_.resize(slot + 1);
        }
        std::string& name = irq_names_[slot];
        if (name.empty()) {
            name = irq_name(irqn);
            if (name.empty()) {
                name = "IRQ " + std::to_string(irqn);
            }
            meta(kInterrupts, irqn + 16, "thread_name", name);
        }
        return name;
    }

    int bus_tid(const CanBus& bus) const { return &bus == &board_.can_bus(1) ? kCan1 : kCan2; }

    void event(const std::string& body) {
        file_.write(body);
        file_.write(",\n");
    }

    void meta(int pid, int tid, const char* kind, const std::string& name) {
        event("{\"ph\":\"M\",\"pid\":" + std::to_string(pid) + ",\"tid\":" + std::to_string(tid) +
              ",\"name\":\"" + kind + "\",\"args\":{\"name\":" + quoted(name) + "}}");
    }

    // Cuts a slice to the window; false when nothing of it is left.
    bool clip(Picos& from, Picos& until) const {
        if (until <= from || until <= context_.window_from || from >= context_.window_until) {
            return false;
        }
        from = std::max(from, context_.window_from);
        until = std::min(until, context_.window_until);
        return true;
    }

    // What follows a slice's name: ","ts":FROM,"dur":LENGTH[,"args":ARGS]},
    void slice_end(Picos from, Picos until, std::string_view args) {
        char text[96];
        std::memcpy(text, "\",\"ts\":", 7);
        char* p = put_us(text + 7, from);
        std::memcpy(p, ",\"dur\":", 7);
        p = put_us(p + 7, until - from);
        if (!args.empty()) {
            file_.write(std::string_view(text, static_cast<std::size_t>(p - text)));
            file_.write(",\"args\":");
            file_.write(args);
            file_.write("},\n");
            return;
        }
        std::memcpy(p, "},\n", 3);
        file_.write(std::string_view(text, static_cast<std::size_t>(p + 3 - text)));
    }

    // A complete slice, cut to the window; none for zero length. The busiest
    // events (two interrupts a millisecond), so written piece by piece.
    void slice(int pid, int tid, std::string_view name, Picos from, Picos until,
               std::string_view args = {}) {
        if (name.empty() || !clip(from, until)) {
            return;
        }
        char head[64];
        char* p = head;
        const auto put = [&p](std::string_view part) {
            std::memcpy(p, part.data(), part.size());
            p += part.size();
        };
        put("{\"ph\":\"X\",\"pid\":");
        p = std::to_chars(p, p + 12, pid).ptr;
        put(",\"tid\":");
        p = std::to_chars(p, p + 12, tid).ptr;
        put(",\"name\":\"");
        file_.write(std::string_view(head, static_cast<std::size_t>(p - head)));
        file_.write(name);
        slice_end(from, until, args);
    }
    // An interrupt's slice: its fixed start written once.
    void irq_slice(int irqn, Picos from, Picos until) {
        const auto slot = static_cast<std::size_t>(irqn + 16);
        if (slot >= irq_prefixes_.size()) {
            irq_prefixes_.resize(slot + 1);
        }
        std::string& prefix = irq_prefixes_[slot];
        if (prefix.empty()) {
            prefix = "{\"ph\":\"X\",\"pid\":" + std::to_string(kInterrupts) +
                     ",\"tid\":" + std::to_string(irqn + 16) + ",\"name\":\"" + irq_label(irqn);
        }
        if (clip(from, until)) {
            file_.write(prefix);
            slice_end(from, until, {});
        }
    }
    void instant(int pid, int tid, const std::string& name, Picos at, const char* scope,
                 const std::string& args) {
        if (!context_.in_window(at)) {
            return;
        }
        event("{\"ph\":\"i\",\"s\":\"" + std::string(scope) + "\",\"pid\":" + std::to_string(pid) +
              ",\"tid\":" + std::to_string(tid) + ",\"name\":" + quoted(name) +
              ",\"ts\":" + us(at) + ",\"args\":" + args + "}");
    }

    // `name` already quoted: counters come fifty times a second.
    void counter(std::string_view name, Picos at, std::string_view args) {
        if (!context_.in_window(at)) {
            return;
        }
        line_.assign("{\"ph\":\"C\",\"pid\":4,\"tid\":0,\"name\":");
        line_ += name;
        line_ += ",\"ts\":";
        append_us(line_, at);
        line_ += ",\"args\":";
        line_ += args;
        line_ += "},\n";
        file_.write(line_);
    }

    // Where the call came from: the innermost handler, or the caller's thread.
    std::pair<int, int> track_of(int thread) const {
        if (!irqs_.empty()) {
            return {kInterrupts, irqs_.back().irqn + 16};
        }
        return {kThreads, context_tid(thread)};
    }

    void queue_op(const QueueOp& op, bool put) {
        const auto [pid, tid] = track_of(op.thread);
        if (op.ok && op.message != 0 && context_.in_window(op.at)) {
            // Flow ids: queue in the high half, the message's number below.
            const uint64_t id = (static_cast<uint64_t>(op.queue + 1) << 40) | op.message;
            event(std::string("{\"ph\":\"") + (put ? "s" : "f") +
                  "\",\"cat\":\"queue\",\"name\":\"message\",\"id\":" + std::to_string(id) +
                  ",\"pid\":" + std::to_string(pid) + ",\"tid\":" + std::to_string(tid) +
                  ",\"ts\":" + us(op.at) + (put ? "" : ",\"bp\":\"e\"") + "}");
        }
        if (!op.ok) {
            instant(pid, tid,
                    std::string(put ? "put" : "get") +
                        (op.timed_out ? " timed out" : (put ? " refused: full" : " found none")),
                    op.at, "t", "{\"queue\":" + std::to_string(op.queue) + "}");
        }
        if (static_cast<std::size_t>(op.queue) < queue_names_.size()) {
            counter(queue_names_[static_cast<std::size_t>(op.queue)], op.at,
                    "{\"messages\":" + std::to_string(op.depth) + "}");
        }
    }

    void tick(Picos now) {
        const PlantState p = board_.plant()->state(now);
        std::string& args = scratch_;
        args.assign("{\"roll\":");
        append_fixed(args, p.roll.platform_deg, 3);
        args += ",\"pitch\":";
        append_fixed(args, p.pitch.platform_deg, 3);
        args += '}';
        counter("\"platform angle (deg)\"", now, args);
        if (now == 0 || now % kLoadPeriod != 0) {
            return;
        }
        // The share of the last period each context had, in percent.
        std::string load = "{";
        const auto share = [&](const std::string& name, Picos total, Picos& before) {  // quoted
            load += load.size() > 1 ? "," : "";
            load += name;
            load += ':';
            append_fixed(
                load,
                100.0 * static_cast<double>(total - before) / static_cast<double>(kLoadPeriod), 2);
            before = total;
        };
        loads_.resize(names_.size() + 2);
        for (std::size_t id = 0; id < names_.size(); id++) {
            share(names_[id], stats_.cpu_time(static_cast<int>(id), now), loads_[id + 2]);
        }
        share("\"idle\"", stats_.cpu_time(kIdleThread, now), loads_[0]);
        share("\"interrupts\"", stats_.interrupt_time(now), loads_[1]);
        counter("\"cpu load (%)\"", now, load + "}");
    }

    OutputContext context_;
    Board& board_;
    const ThreadStats& stats_;
    OutputFile file_;
    std::vector<std::string> names_;  // each thread's, quoted
    std::vector<State> states_;
    std::vector<std::string> queue_names_;
    std::vector<Irq> irqs_;
    std::vector<std::string> irq_names_;     // by exception number
    std::vector<std::string> irq_prefixes_;  // of their slices, by exception number
    std::vector<Picos> loads_;  // idle, interrupts, then each thread: time at the last period
    std::string line_;          // a counter's, reused
    std::string scratch_;       // the angles' arguments, reused
    int running_ = kStartupContext;
    Picos context_since_ = 0;
};

}  // namespace

std::unique_ptr<Writer> make_timeline_json(const OutputContext& context, Probes& probes) {
    return std::make_unique<TimelineJson>(context, probes);
}

}  // namespace sim
