// trace.csv: the gimbal every 20 ms, and each sample and speed command.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app.h"
#include "sim/app/outputs/decimal.hpp"
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writers.hpp"

namespace sim {

namespace {

// Where a queued sample's roll and pitch are.
constexpr std::size_t kSampleAngleOffset = offsetof(imu_data_t, angle);

class TraceCsv : public Writer {
  public:
    TraceCsv(const OutputContext& context, Probes& probes)
        : context_(context), board_(probes.board), file_(context.dir, "trace.csv") {
        file_.write(
            "time_s,event,base_roll_deg,base_pitch_deg,motor_roll_deg,"
            "motor_pitch_deg,platform_roll_deg,platform_pitch_deg,"
            "command_roll_dps,command_pitch_dps,speed_roll_dps,speed_pitch_dps,"
            "sample_roll_deg,sample_pitch_deg,sent_id,sent_speed_dps\n");
        probes.tick.push_back([this](Picos now) { row(now, "plant", ",,,"); });
        probes.sample_put.push_back([this](const void* msg, uint32_t size, bool queued, Picos at) {
            if (size < kSampleAngleOffset + 2 * sizeof(float)) {
                return;
            }
            float angle[2];
            std::memcpy(angle, static_cast<const uint8_t*>(msg) + kSampleAngleOffset, sizeof angle);
            std::string tail;
            append_fixed(tail, angle[0], 4);
            tail += ',';
            append_fixed(tail, angle[1], 4);
            tail += ",,";
            row(at, queued ? "sample" : "dropped", tail);
        });
        probes.speed_command.push_back([this](uint32_t id, int32_t speed, Picos at) {
            char text[16];
            std::snprintf(text, sizeof text, ",,0x%03X,", static_cast<unsigned>(id));
            std::string tail = text;
            append_fixed(tail, speed / 100.0, 2);
            row(at, "command", tail);
        });
    }
    void finish(const RunEnd&) override { file_.commit(); }
    bool failed() const override { return file_.failed(); }

  private:
    // One line: the plant now, then the event's own columns.
    void row(Picos at, const char* event, const std::string& tail) {
        if (!context_.in_window(at)) {
            return;
        }
        const PlantState p = board_.plant()->state(at);
        line_.clear();
        append_fixed(line_, to_seconds(at), 6);
        line_ += ',';
        line_ += event;
        const std::pair<double, int> columns[] = {
            {p.roll.base_deg, 4},    {p.pitch.base_deg, 4},    {p.roll.motor_deg, 4},
            {p.pitch.motor_deg, 4},  {p.roll.platform_deg, 4}, {p.pitch.platform_deg, 4},
            {p.roll.command_dps, 2}, {p.pitch.command_dps, 2}, {p.roll.motor_dps, 3},
            {p.pitch.motor_dps, 3}};
        for (const auto& [value, decimals] : columns) {
            line_ += ',';
            append_fixed(line_, value, decimals);
        }
        line_ += ',';
        line_ += tail;
        line_ += '\n';
        file_.write(line_);
    }

    OutputContext context_;
    Board& board_;
    OutputFile file_;
    std::string line_;
};

}  // namespace

std::unique_ptr<Writer> make_trace_csv(const OutputContext& context, Probes& probes) {
    return std::make_unique<TraceCsv>(context, probes);
}

}  // namespace sim
