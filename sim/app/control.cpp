// GCC 12 with the sanitizers warns of an uninitialised member inside
// std::regex's own automaton (std::function in its states), not in this file.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "sim/app/control.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "sim/app/host_port.hpp"
#include "sim/app/outputs/writers.hpp"
#include "sim/app/scenario.hpp"

namespace sim {

namespace {

// A command line longer than this is refused (a chosen value: a command is
// a few dozen bytes, a regular expression a few hundred).
constexpr std::size_t kMaxLine = 64 * 1024;
// Console lines are matched on their first KiB: the firmware's are under 100
// bytes, and a regular expression on a long line recurses deeply (a chosen value).
constexpr std::size_t kMaxConsoleLine = 1024;
// How often a client's wait looks at the stop signals (a chosen value).
constexpr int kPollMs = 200;
constexpr const char* kFaults =
    "motor_absent, motor_silent, motor_garbage_close, motor_reply_delay, imu_absent, "
    "imu_stretch_scl, imu_hold_sda_low, imu_hold_scl_low";

class CommandError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using nlohmann::json;

void only_keys(const json& cmd, std::initializer_list<const char*> keys) {
    for (const auto& [key, value] : cmd.items()) {
        bool known = key == "cmd";
        for (const char* k : keys) {
            known = known || key == k;
        }
        if (!known) {
            throw CommandError("unknown key '" + key + "' for " + cmd["cmd"].get<std::string>());
        }
    }
}

double number(const json& cmd, const char* key, double min, double max) {
    const json& v = cmd.at(key);
    if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < min ||
        v.get<double>() > max) {
        throw CommandError(std::string("'") + key + "' must be a number from " + json(min).dump() +
                           " to " + json(max).dump() + ", not " + v.dump());
    }
    return v.get<double>();
}

// A number, or a string in decimal or 0x-hexadecimal ("0x141").
uint32_t identifier(const json& v, const char* key) {
    uint64_t id = 1ULL << 32;
    if (v.is_number_unsigned()) {
        id = v.get<uint64_t>();
    } else if (v.is_string()) {
        const std::string s = v.get<std::string>();
        const bool hex = s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0;
        const char* first = s.data() + (hex ? 2 : 0);
        const auto [end, ec] = std::from_chars(first, s.data() + s.size(), id, hex ? 16 : 10);
        if (ec != std::errc() || end != s.data() + s.size() || first == end) {
            id = 1ULL << 32;
        }
    }
    if (id > 0x1FFFFFFF) {
        throw CommandError(std::string("'") + key +
                           "' must be a CAN identifier (0 to 0x1FFFFFFF, a number or \"0x...\"), "
                           "not " +
                           v.dump());
    }
    return static_cast<uint32_t>(id);
}

std::vector<uint8_t> hex_bytes(const json& v) {
    const std::string s = v.is_string() ? v.get<std::string>() : std::string("?");
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < s.size() && s.size() % 2 == 0 && s.size() <= 16; i += 2) {
        uint8_t b = 0;
        const auto [end, ec] = std::from_chars(s.data() + i, s.data() + i + 2, b, 16);
        if (ec != std::errc() || end != s.data() + i + 2) {
            break;
        }
        bytes.push_back(b);
    }
    if (bytes.size() * 2 != s.size()) {
        throw CommandError(
            "'data' must be up to 8 bytes in hexadecimal (\"80\", \"A2000000\"), "
            "not " +
            v.dump());
    }
    return bytes;
}

std::string hex(const CanFrame& frame) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < std::min<int>(frame.dlc, 8) && !frame.rtr; i++) {
        s += kHex[frame.data[i] >> 4];
        s += kHex[frame.data[i] & 0xF];
    }
    return s;
}

json error(const std::string& message) {
    return {{"ok", false}, {"error", message}};
}

}  // namespace

ControlAddress parse_control_address(const std::string& text) {
    HostPort a;
    if (parse_host_port(text, false, a) != HostPortError::kNone) {
        throw ScenarioError(
            "--control must be [HOST:]PORT, HOST an IPv4 address, PORT 0 to 65535 "
            "(0: any free one), not '" +
            text + "'");
    }
    return a;
}

Control::Control(const ControlAddress& address) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(address.port);
    inet_pton(AF_INET, address.host.c_str(), &sa.sin_addr);
    const int yes = 1;
    socklen_t len = sizeof sa;
    if (listen_fd_ < 0 || setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listen_fd_, 1) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        const std::string reason = std::strerror(errno);
        if (listen_fd_ >= 0) {
            ::close(listen_fd_);
        }
        throw std::runtime_error("--control " + address.host + ":" + std::to_string(address.port) +
                                 ": " + reason);
    }
    where_ = address.host + ":" + std::to_string(ntohs(sa.sin_port));
}

Control::~Control() {
    for (int fd : {listen_fd_, client_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void Control::attach(Probes& probes) {
    cpu_ = &probes.board.cpu();
    probes.console.push_back([this](uint8_t byte) { console_byte(byte); });
    for (int n = 1; n <= 2; n++) {
        probes.board.can_bus(n).add_listener(
            [this, n](const CanFrame& frame, Picos at, const CanNode*) {
                frame_done(n, frame, at);
            });
    }
}

// The firmware ends its lines with a bare line feed; a carriage return before
// it is not part of the line.
void Control::console_byte(uint8_t byte) {
    if (byte != '\n') {
        if (line_.size() < kMaxConsoleLine) {
            line_.push_back(static_cast<char>(byte));
        }
        return;
    }
    if (!line_.empty() && line_.back() == '\r') {
        line_.pop_back();
    }
    if (wait_.kind == Wait::kConsole && !wait_.matched && std::regex_search(line_, wait_.pattern)) {
        wait_.matched = true;
        wait_.found = {{"text", line_}, {"at_s", to_seconds(cpu_->now())}};
        cpu_->end_run_here();
    }
    line_.clear();
}

void Control::frame_done(int bus, const CanFrame& frame, Picos at) {
    if (wait_.kind != Wait::kFrame || wait_.matched || bus != wait_.bus || frame.id != wait_.id ||
        frame.ide != wait_.ext ||
        wait_.data.size() > (frame.rtr ? 0U : std::min<unsigned>(frame.dlc, 8))) {
        return;
    }
    if (!std::equal(wait_.data.begin(), wait_.data.end(), frame.data)) {
        return;
    }
    std::string line = candump_line(frame, at, "can" + std::to_string(bus));
    line.pop_back();
    wait_.matched = true;
    wait_.found = {{"bus", "can" + std::to_string(bus)},
                   {"id", frame.id},
                   {"ext", frame.ide},
                   {"rtr", frame.rtr},
                   {"dlc", frame.dlc},
                   {"data", hex(frame)},
                   {"at_s", to_seconds(at)},
                   {"line", line}};
    cpu_->end_run_here();
}

Picos Control::serve(const Run& run) {
    attach(run.probes);
    while (client_ < 0) {
        if (run.stopped()) {
            ended_by_ = "stop";
            return cpu_->now();
        }
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) > 0) {
            client_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        }
    }
    // One client per run: a second one is refused at once.
    ::close(listen_fd_);
    listen_fd_ = -1;
    const int yes = 1;
    setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    for (std::string line; read_line(line, run);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        bool finish = false;
        const json reply = handle(line, run, finish);
        if (finish) {
            ended_by_ = "finish";
            break;
        }
        if (!send(reply)) {
            ended_by_ = "disconnect";
            break;
        }
        if (run.stopped()) {
            ended_by_ = "stop";
            break;
        }
    }
    return cpu_->now();
}

bool Control::read_line(std::string& line, const Run& run) {
    for (;;) {
        const auto nl = pending_.find('\n');
        if (nl != std::string::npos && !dropping_) {
            line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return true;
        }
        if (nl != std::string::npos) {
            pending_.erase(0, nl + 1);
            dropping_ = false;
            continue;
        }
        if (pending_.size() > kMaxLine && !dropping_) {
            // Refused whole: the rest of it up to its line feed is dropped too.
            errors_++;
            dropping_ = true;
            if (!send(error("a command line is longer than 64 KiB"))) {
                ended_by_ = "disconnect";
                return false;
            }
        }
        if (dropping_) {
            pending_.clear();
        }
        if (run.stopped()) {
            ended_by_ = "stop";
            return false;
        }
        pollfd p{client_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ended_by_ = "disconnect";
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool Control::send(const json& reply) {
    // A console line or a bad command may hold bytes that are not UTF-8.
    const std::string text = reply.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = ::send(client_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

json Control::handle(const std::string& line, const Run& run, bool& finish) {
    commands_++;
    try {
        const json cmd = json::parse(line);
        if (!cmd.is_object() || !cmd.contains("cmd") || !cmd["cmd"].is_string()) {
            throw CommandError("a command is a JSON object with a \"cmd\" string");
        }
        const std::string name = cmd["cmd"].get<std::string>();
        json reply = {{"ok", true}};
        if (name == "run") {
            only_keys(cmd, {"for_s", "to_s"});
            if (cmd.contains("for_s") == cmd.contains("to_s")) {
                throw CommandError("run takes one of 'for_s' (from now) and 'to_s' (virtual time)");
            }
            const Picos now = cpu_->now();
            const Picos until =
                cmd.contains("for_s")
                    ? now + Duration::seconds(number(cmd, "for_s", 0, kMaxSettingS)).ps
                    : Duration::seconds(number(cmd, "to_s", 0, kMaxSettingS)).ps;
            if (until < now) {
                throw CommandError("'to_s' " + cmd["to_s"].dump() +
                                   " is before the board's virtual time " +
                                   json(to_seconds(now)).dump());
            }
            run.advance(until);
        } else if (name == "wait_console" || name == "wait_frame") {
            reply = wait(cmd, run);
        } else if (name == "fault") {
            reply = fault(cmd, run.probes);
        } else if (name == "counters") {
            only_keys(cmd, {});
            const json s = run.summary();
            for (const char* key : {"console_bytes", "kernel_ticks", "metrics", "can_buses"}) {
                reply[key] = s[key];
            }
            for (int n = 1; n <= 2; n++) {
                const CanBus& bus = run.probes.board.can_bus(n);
                reply["can_buses"][bus.name()]["frames"] = bus.frames();
            }
        } else if (name == "summary") {
            only_keys(cmd, {});
            reply["summary"] = run.summary();
        } else if (name == "finish") {
            only_keys(cmd, {});
            finish = true;
            return reply;
        } else {
            throw CommandError("unknown command '" + name +
                               "' (run, wait_console, wait_frame, fault, counters, summary, "
                               "finish)");
        }
        reply["time_s"] = to_seconds(cpu_->now());
        if (const auto& halt = cpu_->halted()) {
            reply["halted"] = {{"where", halt->where}, {"virtual_time_s", to_seconds(halt->at)}};
        }
        return reply;
    } catch (const json::exception& e) {
        errors_++;
        return error(std::string("not a JSON command: ") + e.what());
    } catch (const CommandError& e) {
        errors_++;
        return error(e.what());
    } catch (const std::regex_error& e) {
        errors_++;
        return error(std::string("'regex' is not a regular expression: ") + e.what());
    } catch (const std::exception& e) {
        errors_++;
        return error(std::string("command failed: ") + e.what());
    }
}

json Control::wait(const json& cmd, const Run& run) {
    Wait w;
    const bool console = cmd["cmd"] == "wait_console";
    if (console) {
        only_keys(cmd, {"regex", "within_s"});
        if (!cmd.contains("regex") || !cmd["regex"].is_string()) {
            throw CommandError("wait_console needs 'regex', a string");
        }
        w.kind = Wait::kConsole;
        w.pattern = std::regex(cmd["regex"].get<std::string>());
    } else {
        only_keys(cmd, {"id", "bus", "ext", "data", "within_s"});
        if (!cmd.contains("id")) {
            throw CommandError("wait_frame needs 'id'");
        }
        w.kind = Wait::kFrame;
        w.id = identifier(cmd["id"], "id");
        w.ext = w.id > 0x7FF;
        if (cmd.contains("ext")) {
            if (!cmd["ext"].is_boolean() || (!cmd["ext"].get<bool>() && w.ext)) {
                throw CommandError("'ext' must be true or false (an id above 0x7FF is extended)");
            }
            w.ext = cmd["ext"].get<bool>();
        }
        const json bus = cmd.value("bus", json("can2"));
        if (bus != "can1" && bus != "can2" && bus != 1 && bus != 2) {
            throw CommandError("'bus' must be \"can1\" or \"can2\", not " + bus.dump());
        }
        w.bus = bus == "can1" || bus == 1 ? 1 : 2;
        if (cmd.contains("data")) {
            w.data = hex_bytes(cmd["data"]);
        }
    }
    if (!cmd.contains("within_s")) {
        throw CommandError(cmd["cmd"].get<std::string>() +
                           " needs 'within_s', its virtual-time limit");
    }
    const Picos until =
        cpu_->now() + Duration::seconds(number(cmd, "within_s", 0, kMaxSettingS)).ps;
    wait_ = std::move(w);
    run.advance(until);
    json reply = {{"ok", true},
                  {"matched", wait_.matched},
                  {console ? "line" : "frame", wait_.matched ? wait_.found : json(nullptr)}};
    wait_ = Wait{};
    return reply;
}

// The faults a scenario's windows switch, switched now: on takes the fault's
// setting, off the device's default, as at the end of a window.
json Control::fault(const json& cmd, Probes& probes) {
    only_keys(cmd, {"fault", "on", "motor", "reply_delay_us", "stretch_scl_us", "for_ms"});
    if (!cmd.contains("fault") || !cmd["fault"].is_string() || !cmd.contains("on") ||
        !cmd["on"].is_boolean()) {
        throw CommandError("fault needs 'fault', a name, and 'on', true or false");
    }
    const std::string name = cmd["fault"].get<std::string>();
    const bool on = cmd["on"].get<bool>();
    Board& board = probes.board;
    const Picos now = cpu_->now();
    if (name.rfind("motor_", 0) == 0) {
        std::vector<Mf4010Motor*> motors;
        if (cmd.contains("motor")) {
            Mf4010Motor* m = board.motor(identifier(cmd["motor"], "motor"));
            if (m == nullptr) {
                throw CommandError("no motor " + cmd["motor"].dump() + " on the board");
            }
            motors.push_back(m);
        } else {
            for (const MotorConfig& c : board.config().motors) {
                motors.push_back(board.motor(c.id));
            }
        }
        const MotorConfig defaults;
        Duration delay = defaults.reply_delay;
        if (name == "motor_reply_delay" && on) {
            if (!cmd.contains("reply_delay_us")) {
                throw CommandError("motor_reply_delay needs 'reply_delay_us'");
            }
            delay = Duration{static_cast<Picos>(number(cmd, "reply_delay_us", 0, 1e7)) * kPsPerUs};
        }
        for (Mf4010Motor* m : motors) {
            if (name == "motor_absent") {
                m->set_present(!on);
            } else if (name == "motor_silent") {
                m->set_answers(!on);
            } else if (name == "motor_garbage_close") {
                m->set_close_garbage(on);
            } else if (name == "motor_reply_delay") {
                m->set_reply_delay(delay);
            } else {
                throw CommandError("unknown fault '" + name + "' (" + kFaults + ")");
            }
        }
        return {{"ok", true}};
    }
    Imu& imu = board.imu();
    if (name == "imu_absent") {
        imu.set_present(!on);
    } else if (name == "imu_stretch_scl") {
        if (on && !cmd.contains("stretch_scl_us")) {
            throw CommandError("imu_stretch_scl needs 'stretch_scl_us'");
        }
        imu.set_stretch(
            on ? Duration::of(number(cmd, "stretch_scl_us", 0, kMaxSettingS * 1e6), kPsPerUs).ps
               : 0);
    } else if (name == "imu_hold_sda_low" || name == "imu_hold_scl_low") {
        // Held from now until switched off, or for 'for_ms'.
        const Picos until =
            !on ? now
            : cmd.contains("for_ms")
                ? now + Duration::of(number(cmd, "for_ms", 0, kMaxSettingS * 1e3), kPsPerMs).ps
                : kNever;
        if (name == "imu_hold_sda_low") {
            imu.hold_sda_low(now, until);
        } else {
            imu.hold_scl_low(now, until);
        }
    } else {
        throw CommandError("unknown fault '" + name + "' (" + kFaults + ")");
    }
    return {{"ok", true}};
}

void Control::finished(const json& summary) {
    if (ended_by_ == "finish" && client_ >= 0) {
        send({{"ok", true},
              {"finished", true},
              {"time_s", summary["virtual_time_s"]},
              {"summary", summary}});
    }
    ::close(client_);
    client_ = -1;
}

json Control::summary() const {
    return {{"commands", commands_},
            {"errors", errors_},
            {"ended_by", ended_by_.empty() ? json(nullptr) : json(ended_by_)}};
}

}  // namespace sim
