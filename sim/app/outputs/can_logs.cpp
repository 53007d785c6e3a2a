// can1.log, can2.log: every frame acknowledged on each bus, candump's format.
#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writers.hpp"

namespace sim {

std::string candump_line(const CanFrame& frame, Picos end_of_frame, const std::string& bus) {
    const uint64_t us = end_of_frame / kPsPerUs;
    char head[64];
    std::snprintf(head, sizeof(head),
                  frame.ide ? "(%llu.%06llu) %s %08X#" : "(%llu.%06llu) %s %03X#",
                  static_cast<unsigned long long>(us / 1000000U),
                  static_cast<unsigned long long>(us % 1000000U), bus.c_str(),
                  static_cast<unsigned>(frame.id));
    std::string line = head;
    if (frame.rtr) {
        line += "R";
    } else {
        static const char kHex[] = "0123456789ABCDEF";
        for (int i = 0; i < std::min<int>(frame.dlc, 8); i++) {
            line += kHex[frame.data[i] >> 4];
            line += kHex[frame.data[i] & 0xF];
        }
    }
    return line + "\n";
}

std::string candump_error_line(const CanError& error, const std::string& bus) {
    // linux/can/error.h: CAN_ERR_FLAG, and the classes CAN_ERR_PROT (0x08),
    // CAN_ERR_ACK (0x20), CAN_ERR_BUSERROR (0x80); data[2] the protocol
    // error type, CAN_ERR_PROT_BIT1 | CAN_ERR_PROT_TX (sent recessive, saw dominant).
    constexpr uint32_t kErrFlag = 0x20000000U, kProt = 0x08U, kAck = 0x20U, kBusError = 0x80U;
    CanFrame f;
    f.ide = true;
    f.dlc = 8;
    if (error.kind == CanError::kAck) {
        f.id = kErrFlag | kAck | kBusError;
    } else {
        f.id = kErrFlag | kProt | kBusError;
        f.data[2] = 0x10U | 0x80U;
    }
    return candump_line(f, error.at, bus);
}

namespace {

class CanLogs : public Writer {
  public:
    CanLogs(const OutputContext& context, Probes& probes)
        : logs_{std::make_unique<OutputFile>(context.dir, "can1.log"),
                std::make_unique<OutputFile>(context.dir, "can2.log")} {
        for (int n = 1; n <= 2; n++) {
            CanBus& bus = probes.board.can_bus(n);
            OutputFile& log = *logs_[static_cast<std::size_t>(n - 1)];
            bus.add_listener(
                [&log, &bus, context](const CanFrame& frame, Picos at, const CanNode*) {
                    if (context.in_window(at)) {
                        log.write(candump_line(frame, at, bus.name()));
                    }
                });
            bus.add_error_listener([&log, &bus, context](const CanError& error) {
                if (context.in_window(error.at)) {
                    log.write(candump_error_line(error, bus.name()));
                }
            });
        }
    }
    void finish(const RunEnd&) override {
        for (auto& log : logs_) {
            log->commit();
        }
    }
    bool failed() const override { return logs_[0]->failed() || logs_[1]->failed(); }

  private:
    std::array<std::unique_ptr<OutputFile>, 2> logs_;
};

}  // namespace

std::unique_ptr<Writer> make_can_logs(const OutputContext& context, Probes& probes) {
    return std::make_unique<CanLogs>(context, probes);
}

}  // namespace sim
