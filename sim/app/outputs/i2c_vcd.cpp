// i2c.vcd: the bit-banged bus's two wires, value changes only.
#include "sim/app/outputs/writers.hpp"
#include "sim/app/vcd.hpp"

namespace sim {

namespace {

class I2cVcd : public Writer {
  public:
    I2cVcd(const OutputContext& context, Probes& probes)
        : vcd_(context.dir, "i2c.vcd",
               std::vector<Wire*>{&probes.board.i2c_scl(), &probes.board.i2c_sda()},
               context.window_from, context.window_until) {}
    void finish(const RunEnd& end) override { vcd_.finish(end.at); }
    bool failed() const override { return vcd_.failed(); }

  private:
    VcdWriter vcd_;
};

}  // namespace

std::unique_ptr<Writer> make_i2c_vcd(const OutputContext& context, Probes& probes) {
    return std::make_unique<I2cVcd>(context, probes);
}

}  // namespace sim
