// gimbal-arm: runs the firmware's ARM image (the stm32f407-vb preset's
// gimbal_vb.elf) on the emulated Cortex-M4 of the virtual board.
//   gimbal-arm IMAGE.elf [MAX_INSTRUCTIONS]
//       boots to osKernelStart: the console on standard output, a report on
//       standard error; exit 0 there, 2 bad arguments or image, 3 halted.
//   gimbal-arm IMAGE.elf --duration S [--scenario FILE] [--out DIR] [--quiet] [--no-plot]
//              [--stack THREAD=BYTES]...
//       runs the threads for S virtual seconds as gimbal-sim does (the same
//       scenarios and files in DIR, the console echoed unless --quiet; each
//       thread's stack and instructions in summary.json's threads' "arm");
//       --stack gives that thread that stack in place of the image's (one
//       too small halts the board: "stack overflow: thread NAME (N bytes)");
//       exit 0, 2 bad arguments, scenario or image (or a --stack thread
//       never created), 3 halted, 4 a file not written.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "sim/app/outputs/folder.hpp"
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/run.hpp"
#include "sim/app/scenario.hpp"
#include "sim/arm/bridges.hpp"
#include "sim/arm/layouts.hpp"
#include "sim/arm/machine.hpp"
#include "sim/arm/watches.hpp"
#include "stm32f4xx_hal.h"

namespace {

constexpr int kUsage = 2;

struct Options {
    std::string image;
    uint64_t limit = 100'000'000;  // a boot takes well under a million
    std::optional<double> duration;
    std::optional<std::string> scenario;
    std::string out;
    bool quiet = false;
    bool no_plot = false;
    std::map<std::string, uint32_t> stack_bytes;
};

bool number(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--duration" && has_value) {
            double d = 0;
            if (!number(argv[++i], d)) {
                std::cerr << "gimbal-arm: --duration must be a number of seconds\n";
                return std::nullopt;
            }
            o.duration = d;
        } else if (a == "--scenario" && has_value) {
            o.scenario = argv[++i];
        } else if (a == "--out" && has_value) {
            o.out = argv[++i];
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--stack" && has_value) {
            const std::string v = argv[++i];
            const std::size_t eq = v.find('=');
            double bytes = 0;
            if (eq == 0 || eq == std::string::npos || !number(v.c_str() + eq + 1, bytes) ||
                bytes < 4 || bytes > 65536 || bytes != static_cast<uint32_t>(bytes)) {
                std::cerr << "gimbal-arm: --stack takes THREAD=BYTES (4 to 65536), not '" << v
                          << "'\n";
                return std::nullopt;
            }
            o.stack_bytes[v.substr(0, eq)] = static_cast<uint32_t>(bytes);
        } else if (a == "--no-plot") {
            o.no_plot = true;
        } else if (o.image.empty() && a.rfind("--", 0) != 0) {
            o.image = a;
        } else if (!o.duration && a.rfind("--", 0) != 0) {
            char* end = nullptr;
            o.limit = std::strtoull(a.c_str(), &end, 10);
            if (end == a.c_str() || *end != '\0' || o.limit == 0) {
                std::cerr << "gimbal-arm: MAX_INSTRUCTIONS must be a positive integer, not '" << a
                          << "'\n";
                return std::nullopt;
            }
        } else {
            std::cerr << "gimbal-arm: unexpected argument '" << a << "'\n";
            return std::nullopt;
        }
    }
    if (o.image.empty()) {
        std::cerr << "usage: gimbal-arm IMAGE.elf [MAX_INSTRUCTIONS]\n"
                     "       gimbal-arm IMAGE.elf --duration S [--scenario FILE] [--out DIR] "
                     "[--quiet] [--no-plot] [--stack THREAD=BYTES]...\n";
        return std::nullopt;
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        return kUsage;
    }
    const bool boot = !options->duration;
    sim::Scenario scenario;
    std::unique_ptr<sim::arm::ElfImage> image;
    std::unique_ptr<sim::arm::Layouts> layouts;
    std::unique_ptr<sim::arm::Machine> machine;
    try {
        if (options->scenario) {
            scenario = sim::load_scenario_file(*options->scenario);
        }
        if (options->duration) {
            sim::check_duration(*options->duration, "--duration");
            scenario.duration_s = *options->duration;
        } else {
            scenario.duration_s = 10;  // ends at osKernelStart, far sooner
        }
        image = std::make_unique<sim::arm::ElfImage>(sim::arm::load_elf(options->image));
        layouts = std::make_unique<sim::arm::Layouts>(
            *image,
            sim::arm::Layouts::Guest{
                [&machine](uint32_t a, uint32_t n) { return machine->memory(a, n); },
                [&machine](uint32_t a) { return machine->pointer(a); }},
            [&machine](const std::string& what) { machine->halt("record " + what); });
    } catch (const std::exception& e) {
        std::cerr << "gimbal-arm: " << e.what() << "\n";
        return kUsage;
    }
    std::unique_ptr<sim::OutputFolder> folder;
    if (!options->out.empty()) {
        try {
            folder = std::make_unique<sim::OutputFolder>(options->out);
        } catch (const std::exception& e) {
            std::cerr << "gimbal-arm: " << e.what() << "\n";
            return kUsage;
        }
    }
    sim::RunHooks hooks;
    hooks.out_dir = options->out;
    if (options->no_plot) {
        hooks.outputs.off.insert("plot");
    }
    if (!options->quiet) {
        hooks.console_echo = [](uint8_t byte) { std::putchar(byte); };
    }
    std::string load_error;
    hooks.on_board = [&](sim::Board& board) {
        machine = std::make_unique<sim::arm::Machine>(*image, board);
        if (boot) {
            machine->set_instruction_limit(options->limit);
        }
        sim::arm::serve_bridges(
            *machine, *layouts,
            {.stop_at_kernel_start = boot, .stack_bytes = options->stack_bytes});
        sim::arm::watch_firmware(*machine, *layouts);
    };
    hooks.reset = [&] {
        sim::install_vectors();
        uwTick = sim::kernel_settings().tick_start;
        machine->reset();
    };
    // The cycles of each thread's own instructions, of the run's cycles.
    hooks.on_result = [&](sim::RunResult& r) {
        r.runtime_heap_used_bytes = sim::arm::runtime_heap_used(*machine);
        const double cycles = r.virtual_time_s * r.clocks.sysclk_hz;
        for (const sim::arm::StackUse& s : sim::arm::stack_use()) {
            r.thread_extras.push_back(
                {{"stack_bytes", s.bytes},
                 {"stack_high_water_bytes", s.used},
                 {"instructions", s.instructions},
                 {"cycles", s.cycles},
                 {"cpu_share", cycles > 0 ? static_cast<double>(s.cycles) / cycles : 0.0}});
        }
    };
    const auto start = std::chrono::steady_clock::now();
    sim::RunResult result;
    try {
        result = sim::run_firmware(scenario, hooks);
    } catch (const sim::OutputError& e) {
        std::cerr << "gimbal-arm: " << e.what() << "\n";
        return sim::kExitOutputFailed;
    } catch (const sim::arm::ImageError& e) {
        std::cerr << "gimbal-arm: " << e.what() << "\n";
        return kUsage;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stdout);
    const uint64_t n = machine ? machine->instructions() : 0;
    const double seconds = result.halted ? result.halted->virtual_time_s : result.virtual_time_s;
    const bool booted = boot && sim::arm::kernel_start_reached();
    const char* state = booted ? "stopped at osKernelStart" : result.halted ? "halted:" : "ran";
    std::fprintf(stderr,
                 "gimbal-arm: %s %s after %llu instructions (%llu core cycles by the Cortex-M4 "
                 "TRM's timings), %zu threads created, %.3f virtual s in %.3f s wall (%.1f "
                 "virtual s per wall s), %.1f MIPS\n",
                 state, booted || !result.halted ? "" : result.halted->where.c_str(),
                 static_cast<unsigned long long>(n),
                 static_cast<unsigned long long>(machine ? machine->cycles() : 0),
                 result.threads.size(), seconds, wall, wall > 0 ? seconds / wall : 0.0,
                 wall > 0 ? static_cast<double>(n) / wall / 1e6 : 0.0);
    if (machine) {
        std::fprintf(stderr,
                     "gimbal-arm: %llu exceptions entered into the image's handlers, %llu with "
                     "the FPU's frame\n",
                     static_cast<unsigned long long>(machine->exceptions()),
                     static_cast<unsigned long long>(machine->fpu_frames()));
    }
    for (const sim::arm::StackUse& s : sim::arm::stack_use()) {
        std::fprintf(
            stderr,
            "gimbal-arm: stack of %s: %u of %u bytes used (painted); %llu instructions, %llu "
            "cycles\n",
            s.thread.c_str(), s.used, s.bytes, static_cast<unsigned long long>(s.instructions),
            static_cast<unsigned long long>(s.cycles));
    }
    if (const auto unknown = sim::arm::unknown_stack_threads(); !unknown.empty() && !boot) {
        std::cerr << "gimbal-arm: --stack names " << unknown.front()
                  << ", which the image never created\n";
        return kUsage;
    }
    return booted || (!boot && !result.halted) ? 0 : sim::kExitBoardHalted;
}
