// The run's outputs. A new output file is one writer file and one line here.
#include "sim/app/outputs/output_file.hpp"
#include "sim/app/outputs/writers.hpp"

namespace sim {

const std::vector<OutputEntry>& output_registry() {
    // clang-format off
    static const std::vector<OutputEntry> kOutputs = {
        //  --no-X      files                      what                                                       lean   needs    writer
        {nullptr,     {"console.log"},            "exactly the bytes USART1 sent",                            true,  nullptr, make_console_log},
        {"can-log",   {"can1.log", "can2.log"},   "every frame acknowledged on CAN1's and CAN2's bus, candump format", false, nullptr, make_can_logs},
        {"trace",     {"trace.csv"},              "the gimbal every 20 ms, each sample and each speed command", false, nullptr, make_trace_csv},
        {"vcd",       {"i2c.vcd"},                "the bit-banged I2C bus's two wires, value changes",       false, nullptr, make_i2c_vcd},
        {"timeline",  {"timeline.json"},          "the firmware's timeline (threads, interrupts, queues, buses), Chrome trace format", true, nullptr, make_timeline_json},
        {nullptr,     {"summary.json"},           "the run's figures, written at its end",                   true,  nullptr, make_summary_json},
        {"plot",      {"plot.png"},               "angles and speed commands over time, drawn from trace.csv", false, "trace", make_plot_png},
    };
    // clang-format on
    return kOutputs;
}

std::vector<std::string> output_file_names() {
    std::vector<std::string> names;
    for (const OutputEntry& entry : output_registry()) {
        for (const std::string& file : entry.files) {
            names.push_back(file);
            names.push_back(OutputFile::temp_name(file));
        }
    }
    names.push_back(plot_work_folder());
    return names;
}

std::string output_table_markdown() {
    std::string table = "| file | what | `--lean` | off with |\n|---|---|---|---|\n";
    for (const OutputEntry& entry : output_registry()) {
        std::string files;
        for (const std::string& file : entry.files) {
            files += (files.empty() ? "`" : ", `") + file + "`";
        }
        table += "| " + files + " | " + entry.what + " | " + (entry.lean ? "kept" : "off") + " | " +
                 (entry.option ? std::string("`--no-") + entry.option + "`" : std::string()) +
                 " |\n";
    }
    return table;
}

}  // namespace sim

namespace sim {

std::vector<std::unique_ptr<Writer>> attach_writers(const OutputContext& context, Probes& probes,
                                                    const std::set<std::string>& off) {
    std::vector<std::unique_ptr<Writer>> writers;
    for (const OutputEntry& entry : output_registry()) {
        if ((entry.option && off.count(entry.option)) || (entry.needs && off.count(entry.needs))) {
            continue;
        }
        writers.push_back(entry.make(context, probes));
    }
    return writers;
}

}  // namespace sim
