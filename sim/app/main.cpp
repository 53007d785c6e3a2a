// gimbal-sim: boots the firmware on a fresh virtual board and runs it for a
// scenario, echoing the console and writing the run's files.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "sim/app/cli.hpp"

namespace {
constexpr int kUsageError = 2;

// --image arm IMAGE: gimbal-arm, the ARM image's runner, in place of this
// process, with every option given here, the scenario's duration when none
// was (gimbal-arm boots only without one) and the folder.
int run_arm_image(const CLI::App& app, const std::vector<std::string>& image,
                  const sim::cli::Setup& setup) {
    std::error_code error;
    const std::filesystem::path runner =
        std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / "gimbal-arm";
    if (image[0] != "arm") {
        std::cerr << "gimbal-sim: --image takes arm IMAGE.elf, not '" << image[0] << "'\n";
        return kUsageError;
    }
    if (access(runner.c_str(), X_OK) != 0) {
        std::cerr << "gimbal-sim: --image arm needs " << runner.string()
                  << ", built where Unicorn is found (tools/install-deps arm-image)\n";
        return kUsageError;
    }
    if (setup.check_only) {
        return 0;
    }
    std::vector<std::string> args = {runner.string(), image[1]};
    // As given: gimbal-arm has the same options and checks.
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (name != "--image" && name != "--out") {
            for (const std::string& value : option->results()) {
                args.push_back(name + "=" + value);
            }
        }
    }
    if (app.count("--duration") == 0) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.17g", setup.scenario.duration_s);
        args.push_back(std::string("--duration=") + seconds);
    }
    args.push_back("--out=" + setup.out_dir);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    execv(runner.c_str(), argv.data());
    std::cerr << "gimbal-sim: " << runner.string() << " cannot be run\n";
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> image;
    sim::cli::Runner runner;
    runner.name = "gimbal-sim";
    runner.description = "Run the gimbal firmware on the virtual board.";
    runner.add_options = [&image](CLI::App& app) {
        app.add_option("--image", image,
                       "arm IMAGE.elf: run the firmware's ARM image (the stm32f407-vb preset's "
                       "gimbal_vb.elf) on the emulated Cortex-M4, as gimbal-arm beside this "
                       "program does, with the other options as given here")
            ->expected(2);
    };
    runner.prepare = [&image](const CLI::App& app, sim::cli::Setup& setup) -> std::optional<int> {
        if (image.empty()) {
            return std::nullopt;
        }
        return run_arm_image(app, image, setup);
    };
    return sim::cli::run(argc, argv, runner);
}
