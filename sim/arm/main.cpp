// gimbal-arm: runs the firmware's ARM image (the stm32f407-vb preset's
// gimbal_vb.elf) on the emulated Cortex-M4 of the virtual board.
//   gimbal-arm IMAGE.elf [MAX_INSTRUCTIONS] [--stack THREAD=BYTES]... [OPTIONS]
//       boots to osKernelStart: the console on standard output, a report on
//       standard error, the run's files only with --out; exit 0 there, 2 bad
//       arguments or image, 3 halted first (MAX_INSTRUCTIONS, default 10^8,
//       halts it).
//   gimbal-arm IMAGE.elf --duration S [--stack THREAD=BYTES]... [OPTIONS]
//       runs the threads for S virtual seconds as gimbal-sim does, with every
//       one of gimbal-sim's options (sim/app/cli.hpp: the same scenarios,
//       live buses, --control, and files in --out, "out" by default), each
//       thread's stack and instructions in summary.json's threads' "arm";
//       --stack gives that thread that stack in place of the image's (one
//       too small halts the board: "stack overflow: thread NAME (N bytes)");
//       exit 0, 1 a port or terminal not opened, 2 bad arguments, scenario or
//       image (or a --stack thread never created), 3 halted, 4 a file not
//       written, 128 + the signal's number when one ended the run early.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/app/cli.hpp"
#include "sim/app/stop.hpp"
#include "sim/arm/bridges.hpp"
#include "sim/arm/layouts.hpp"
#include "sim/arm/machine.hpp"
#include "sim/arm/watches.hpp"
#include "stm32f4xx_hal.h"

namespace {

constexpr int kUsage = 2;
constexpr const char* kName = "gimbal-arm";

bool number(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

// The options of its own, and what the run keeps of them.
struct Arm {
    std::string image_path;
    std::string limit_text;
    uint64_t limit = 100'000'000;  // a boot takes well under a million
    std::vector<std::string> stack_texts;
    std::map<std::string, uint32_t> stack_bytes;
    bool boot = false;
    std::unique_ptr<sim::arm::ElfImage> image;
    std::unique_ptr<sim::arm::Layouts> layouts;
    std::unique_ptr<sim::arm::Machine> machine;

    void add_options(CLI::App& app) {
        app.add_option("IMAGE", image_path, "the ARM image (ELF)")->required();
        app.add_option("MAX_INSTRUCTIONS", limit_text,
                       "a boot's instruction limit, past which the board halts (default 10^8)")
            ->excludes("--duration");
        app.add_option("--stack", stack_texts,
                       "THREAD=BYTES: that thread's stack in place of the image's (4 to 65536 "
                       "bytes); may be repeated")
            ->allow_extra_args(false);
    }

    // Its options' checks and the image, also under --check.
    std::optional<int> prepare(const CLI::App& app, sim::cli::Setup& setup) {
        boot = app.count("--duration") == 0;
        if (!limit_text.empty()) {
            char* end = nullptr;
            limit = std::strtoull(limit_text.c_str(), &end, 10);
            if (end == limit_text.c_str() || *end != '\0' || limit == 0) {
                std::cerr << "gimbal-arm: MAX_INSTRUCTIONS must be a positive integer, not '"
                          << limit_text << "'\n";
                return kUsage;
            }
        }
        for (const std::string& v : stack_texts) {
            const std::size_t eq = v.find('=');
            double bytes = 0;
            if (eq == 0 || eq == std::string::npos || !number(v.c_str() + eq + 1, bytes) ||
                bytes < 4 || bytes > 65536 || bytes != static_cast<uint32_t>(bytes)) {
                std::cerr << "gimbal-arm: --stack takes THREAD=BYTES (4 to 65536), not '" << v
                          << "'\n";
                return kUsage;
            }
            stack_bytes[v.substr(0, eq)] = static_cast<uint32_t>(bytes);
        }
        if (boot) {
            setup.scenario.duration_s = 10;  // ends at osKernelStart, far sooner
            if (app.count("--out") == 0) {
                setup.out_dir.clear();
            }
        }
        try {
            image = std::make_unique<sim::arm::ElfImage>(sim::arm::load_elf(image_path));
            layouts = std::make_unique<sim::arm::Layouts>(
                *image,
                sim::arm::Layouts::Guest{
                    [this](uint32_t a, uint32_t n) { return machine->memory(a, n); },
                    [this](uint32_t a) { return machine->pointer(a); }},
                [this](const std::string& what) { machine->halt("record " + what); });
        } catch (const sim::arm::ImageError& e) {
            std::cerr << "gimbal-arm: " << e.what() << "\n";
            return kUsage;
        }
        return std::nullopt;
    }

    void on_board(sim::Board& board) {
        machine = std::make_unique<sim::arm::Machine>(*image, board);
        if (boot) {
            machine->set_instruction_limit(limit);
        }
        sim::arm::serve_bridges(*machine, *layouts,
                                {.stop_at_kernel_start = boot, .stack_bytes = stack_bytes});
        sim::arm::watch_firmware(*machine, *layouts);
    }

    void reset() {
        sim::install_vectors();
        uwTick = sim::kernel_settings().tick_start;
        machine->reset();
    }

    // The image's own heap; the cycles of each thread's own instructions, of
    // the run's cycles.
    void on_result(sim::RunResult& r) const {
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
    }

    // A boot's end, or gimbal-sim's closing lines; then the instructions,
    // exceptions and stacks.
    int report(const sim::RunResult& result, bool quiet) {
        const bool booted = boot && sim::arm::kernel_start_reached();
        int status = 0;
        if (!boot) {
            status = sim::cli::finish(kName, result, quiet);
        } else if (!booted) {
            status = result.interrupted ? 128 + sim::stop_requested() : sim::kExitBoardHalted;
        }
        std::fflush(stdout);
        const uint64_t n = machine ? machine->instructions() : 0;
        const double seconds =
            result.halted ? result.halted->virtual_time_s : result.virtual_time_s;
        const double wall = result.wall_time_s;
        const char* state = booted          ? "stopped at osKernelStart"
                            : result.halted ? "halted: "
                                            : "ran";
        std::fprintf(stderr,
                     "gimbal-arm: %s%s after %llu instructions (%llu core cycles by the "
                     "Cortex-M4 TRM's timings), %zu threads created, %.3f virtual s in %.3f s "
                     "wall (%.1f virtual s per wall s), %.1f MIPS\n",
                     state, booted || !result.halted ? "" : result.halted->where.c_str(),
                     static_cast<unsigned long long>(n),
                     static_cast<unsigned long long>(machine ? machine->cycles() : 0),
                     result.threads.size(), seconds, wall, wall > 0 ? seconds / wall : 0.0,
                     wall > 0 ? static_cast<double>(n) / wall / 1e6 : 0.0);
        if (machine) {
            std::fprintf(stderr,
                         "gimbal-arm: %llu exceptions entered into the image's handlers, %llu "
                         "with the FPU's frame\n",
                         static_cast<unsigned long long>(machine->exceptions()),
                         static_cast<unsigned long long>(machine->fpu_frames()));
        }
        for (const sim::arm::StackUse& s : sim::arm::stack_use()) {
            std::fprintf(stderr,
                         "gimbal-arm: stack of %s: %u of %u bytes used (painted); %llu "
                         "instructions, %llu cycles\n",
                         s.thread.c_str(), s.used, s.bytes,
                         static_cast<unsigned long long>(s.instructions),
                         static_cast<unsigned long long>(s.cycles));
        }
        if (const auto unknown = sim::arm::unknown_stack_threads(); !unknown.empty() && !boot) {
            std::cerr << "gimbal-arm: --stack names " << unknown.front()
                      << ", which the image never created\n";
            return kUsage;
        }
        return status;
    }
};

}  // namespace

int main(int argc, char** argv) {
    Arm arm;
    sim::cli::Runner runner;
    runner.name = kName;
    runner.description =
        "Run the gimbal firmware's ARM image on the emulated Cortex-M4 of the virtual board.";
    runner.footer =
        "Without --duration it boots to osKernelStart and stops there (exit 0; 3 when the board "
        "halts first), writing files only with --out.\n";
    runner.add_options = [&arm](CLI::App& app) { arm.add_options(app); };
    runner.prepare = [&arm](const CLI::App& app, sim::cli::Setup& setup) {
        return arm.prepare(app, setup);
    };
    runner.on_board = [&arm](sim::Board& board) { arm.on_board(board); };
    runner.reset = [&arm] { arm.reset(); };
    runner.on_result = [&arm](sim::RunResult& r) { arm.on_result(r); };
    runner.bad_input = [](const std::exception& e) {
        return dynamic_cast<const sim::arm::ImageError*>(&e) != nullptr;
    };
    runner.report = [&arm](const sim::RunResult& result, bool quiet) {
        return arm.report(result, quiet);
    };
    return sim::cli::run(argc, argv, runner);
}
