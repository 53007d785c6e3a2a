#include "sim/board/fault_windows.hpp"

namespace sim {

FaultWindows::Entry::Entry(FaultWindows& owner, const FaultWindow& w, Apply a, std::string n)
    : window(w),
      name(std::move(n)),
      apply(std::move(a)),
      on([this, &owner](Picos at) {
          start = at;
          apply(true, at);
          if (!name.empty()) {
              owner.cpu_.probes().fault_window.emit(name, true, at);
          }
          if (window.until != Duration::never()) {
              owner.cpu_.events().schedule(off, at + (window.until.ps - window.from.ps));
          }
      }),
      off([this, &owner](Picos at) {
          apply(false, at);
          if (!name.empty()) {
              owner.cpu_.probes().fault_window.emit(name, false, at);
          }
          if (window.every.ps != 0) {
              owner.cpu_.events().schedule(on, start + window.every.ps);
          }
      }) {}

void FaultWindows::add(const FaultWindow& window, Apply apply, std::string name) {
    auto entry = std::make_unique<Entry>(*this, window, std::move(apply), std::move(name));
    if (window.from.ps == 0) {
        entry->on.fire(0);
    } else {
        entry->apply(false, 0);
        cpu_.events().schedule(entry->on, window.from.ps);
    }
    entries_.push_back(std::move(entry));
}

}  // namespace sim
