// plot.png: drawn from trace.csv by tools/plot-run once the run has ended.
// The script writes where it reads, so it runs in a folder of its own beside
// the run's and its plot moves into place only when drawn.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "sim/app/outputs/writers.hpp"

namespace sim {

namespace {

constexpr const char* kPlotFolder = ".plot.partial";

class PlotPng : public Writer {
  public:
    explicit PlotPng(const OutputContext& context)
        : dir_(context.dir), quiet_(context.quiet), program_(context.program) {}
    // A missing matplotlib or a plot that cannot be drawn leaves the run's
    // other files as they are and says so (on standard error: standard
    // output carries the console only).
    void finish(const RunEnd&) override {
        const std::filesystem::path work = dir_ / kPlotFolder;
        std::error_code ignored;
        std::filesystem::remove_all(work, ignored);
        bool drawn = std::filesystem::create_directory(work, ignored) &&
                     ::link((dir_ / "trace.csv").c_str(), (work / "trace.csv").c_str()) == 0;
        if (drawn) {
            const std::string command = std::string("/usr/bin/python3 '") + GIMBAL_PLOT_SCRIPT +
                                        "' '" + work.string() + "' >/dev/null";
            drawn = std::system(command.c_str()) == 0 &&
                    std::rename((work / "plot.png").c_str(), (dir_ / "plot.png").c_str()) == 0;
        }
        std::filesystem::remove_all(work, ignored);
        if (!drawn) {
            std::fprintf(stderr, "%s: no plot.png (tools/plot-run said why above)\n",
                         program_.c_str());
        } else if (!quiet_) {
            std::fprintf(stderr, "%s: plot: %s\n", program_.c_str(), (dir_ / "plot.png").c_str());
        }
    }
    bool failed() const override { return false; }

  private:
    std::filesystem::path dir_;
    bool quiet_;
    std::string program_;
};

}  // namespace

std::unique_ptr<Writer> make_plot_png(const OutputContext& context, Probes&) {
    return std::make_unique<PlotPng>(context);
}

const char* plot_work_folder() {
    return kPlotFolder;
}

}  // namespace sim
