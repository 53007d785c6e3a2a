// console.log: exactly the bytes USART1 sent.
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writers.hpp"

namespace sim {

namespace {

class ConsoleLog : public Writer {
  public:
    ConsoleLog(const OutputContext& context, Probes& probes) : file_(context.dir, "console.log") {
        probes.console.push_back([this](uint8_t byte) { file_.put(static_cast<char>(byte)); });
    }
    void finish(const RunEnd&) override { file_.commit(); }
    bool failed() const override { return file_.failed(); }

  private:
    OutputFile file_;
};

}  // namespace

std::unique_ptr<Writer> make_console_log(const OutputContext& context, Probes& probes) {
    return std::make_unique<ConsoleLog>(context, probes);
}

}  // namespace sim
