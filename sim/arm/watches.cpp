#include "sim/arm/watches.hpp"

#include <string>

#include "mf4010v2.h"
#include "pid.h"
#include "sim/core/chip.hpp"
#include "sim/platform.hpp"

namespace sim::arm {

namespace {

// A C++ function of the image by its name: the Itanium ABI's mangled name
// starts with its length and the name, its parameters follow.
uint32_t function(const ElfImage& image, const std::string& name) {
    const std::string prefix = "_Z" + std::to_string(name.size()) + name;
    for (const auto& [symbol, address] : image.symbols) {
        if (symbol.compare(0, prefix.size(), prefix) == 0) {
            return address;
        }
    }
    throw ImageError("the image has no function " + name);
}

Cpu& cpu() {
    return Chip::get().cpu();
}

}  // namespace

void watch_firmware(Machine& machine, const Layouts& layouts) {
    machine.watch(function(machine.image(), "PIDController_Compute"),
                  [&layouts](Machine& m, const Machine::Regs& at) -> Machine::Exit {
                      const uint32_t pid = at.r[0];
                      const int axis =
                          m.memory(pid, sizeof(PIDController_t)) ? controller_axis(pid) : -1;
                      if (axis < 0) {
                          return {};  // a null or stray record: the step itself answers for it
                      }
                      const ControlOverride& o = control_override();
                      if (o.roll || o.pitch || o.output_max) {
                          PIDController_t gains{};
                          layouts.load(pid, gains);
                          apply_control_override(axis, gains);
                          layouts.store(gains, pid);
                      }
                      const float actual = at.s[1];
                      return [axis, actual](Machine&, const Machine::Regs& back) {
                          cpu().probes().control_step.emit(axis, actual, back.s[0], cpu().now());
                      };
                  });
    for (const char* name : {"mf4010v2_set_speed", "mf4010v2_run", "mf4010v2_close"}) {
        // The driver counts each failed exchange in the record, as it
        // reports it on the console: the probe says which call failed.
        machine.watch(function(machine.image(), name),
                      [&layouts](Machine& m, const Machine::Regs& at) -> Machine::Exit {
                          const uint32_t record = at.r[0];
                          if (!m.memory(record, sizeof(mf4010v2_t))) {
                              return {};
                          }
                          mf4010v2_t before{};
                          layouts.load(record, before);
                          return [&layouts, record, before](Machine&, const Machine::Regs&) {
                              mf4010v2_t after{};
                              layouts.load(record, after);
                              cpu().probes().motor_exchange.emit(
                                  after.id, after.error_count == before.error_count, cpu().now());
                          };
                      });
    }
}

std::size_t runtime_heap_used(const Machine& machine) {
    const ElfImage& image = machine.image();
    const uint32_t brk = machine.read32(image.symbol("__sbrk_heap_end"));
    const uint32_t end = image.symbol("end");
    return brk > end ? brk - end : 0;
}

}  // namespace sim::arm
