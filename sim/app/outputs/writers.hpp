// The writers of the registry, one file each.
#pragma once

#include <memory>
#include <string>

#include "sim/app/outputs/writer.hpp"

namespace sim {

std::unique_ptr<Writer> make_console_log(const OutputContext& context, Probes& probes);
std::unique_ptr<Writer> make_can_logs(const OutputContext& context, Probes& probes);
std::unique_ptr<Writer> make_trace_csv(const OutputContext& context, Probes& probes);
std::unique_ptr<Writer> make_i2c_vcd(const OutputContext& context, Probes& probes);
std::unique_ptr<Writer> make_timeline_json(const OutputContext& context, Probes& probes);
std::unique_ptr<Writer> make_summary_json(const OutputContext& context, Probes& probes);
std::unique_ptr<Writer> make_plot_png(const OutputContext& context, Probes& probes);

/// The folder plot.png is drawn in before it moves into place.
const char* plot_work_folder();

/// One frame as a line of a candump log: "(SECONDS.MICROSECONDS) canN ID#HEXDATA".
std::string candump_line(const CanFrame& frame, Picos end_of_frame, const std::string& bus);
/// An error frame as candump logs it: the CAN_ERR_FLAG identifier with the
/// error class of linux/can/error.h and its eight data bytes.
std::string candump_error_line(const CanError& error, const std::string& bus);

}  // namespace sim
