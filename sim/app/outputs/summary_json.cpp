// summary.json: the run's figures, written once the run has ended.
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writers.hpp"

namespace sim {

namespace {

class SummaryJson : public Writer {
  public:
    explicit SummaryJson(const OutputContext& context) : dir_(context.dir) {}
    void finish(const RunEnd& end) override {
        OutputFile file(dir_, "summary.json");
        file.write(end.summary.dump(2) + "\n");
        file.commit();
    }
    bool failed() const override { return false; }

  private:
    std::filesystem::path dir_;
};

}  // namespace

std::unique_ptr<Writer> make_summary_json(const OutputContext& context, Probes&) {
    return std::make_unique<SummaryJson>(context);
}

}  // namespace sim
