// The stop requests of the command line: what the platform's signals or
// console events do to a run (ask every port to stop after its current
// file, or end at once after putting each port's settings back).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

#include "imgload/cli/terminal_view.h"

namespace imgload {

struct StopTarget {
  std::atomic<int>* stop_requested;  // read by every download
  TerminalView* view;                // where the notes go
  int entry_count;
  std::size_t ports;
  std::function<void()> restore_ports;  // called before ending at once
};

// Takes the platform's stop signals from now on, on a thread of its own.
void start_stop_signals(const StopTarget& target);

}  // namespace imgload
