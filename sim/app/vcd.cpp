#include "sim/app/vcd.hpp"

#include <algorithm>
#include <charconv>
#include <string>

namespace sim {

VcdWriter::VcdWriter(const std::filesystem::path& dir, const std::string& name,
                     const std::vector<Wire*>& wires, Picos from, Picos until)
    : out_(dir, name), from_(from), until_(until) {
    // No date: the same run gives the same bytes.
    out_.write("$version gimbal-sim $end\n$timescale 1 ns $end\n$scope module board $end\n");
    for (std::size_t i = 0; i < wires.size(); i++) {
        ids_.push_back(static_cast<char>('!' + i));
        out_.write(std::string("$var wire 1 ") + ids_[i] + ' ' + wires[i]->name() + " $end\n");
    }
    out_.write("$upscope $end\n$enddefinitions $end\n");
    for (Wire* wire : wires) {
        levels_.push_back(wire->level());
    }
    if (from_ == 0) {
        open_window();
    }
    for (std::size_t i = 0; i < wires.size(); i++) {
        wires[i]->listen([this, i](int level, Picos at) { change(i, level, at); });
    }
}

void VcdWriter::open_window() {
    last_ns_ = from_ / kPsPerNs;
    out_.write('#' + std::to_string(last_ns_) + "\n$dumpvars\n");
    for (std::size_t i = 0; i < levels_.size(); i++) {
        out_.write(std::to_string(levels_[i]) + ids_[i] + '\n');
    }
    out_.write("$end\n");
    opened_ = true;
}

void VcdWriter::change(std::size_t signal, int level, Picos at) {
    if (finished_ || at >= until_) {
        return;
    }
    if (!opened_) {
        if (at < from_) {
            levels_[signal] = level;
            return;
        }
        open_window();
    }
    // One write per change: the stream's per-item formatting is most of a
    // run's cost otherwise.
    char line[40];
    char* p = line;
    const uint64_t ns = at / kPsPerNs;
    if (ns != last_ns_) {
        *p++ = '#';
        p = std::to_chars(p, line + 24, ns).ptr;
        *p++ = '\n';
        last_ns_ = ns;
    }
    *p++ = level != 0 ? '1' : '0';
    *p++ = ids_[signal];
    *p++ = '\n';
    out_.write(std::string_view(line, static_cast<std::size_t>(p - line)));
}

void VcdWriter::finish(Picos end) {
    end = std::min(end, until_);
    if (!opened_ && end >= from_) {
        open_window();
    }
    const uint64_t ns = end / kPsPerNs;
    if (ns > last_ns_) {
        out_.write('#' + std::to_string(ns) + '\n');
    }
    finished_ = true;
    out_.commit();
}

}  // namespace sim
