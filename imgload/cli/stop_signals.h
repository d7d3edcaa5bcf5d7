// The stop requests of the command line: what the platform's signals or
// console events do to a run (ask every port to stop after its current
// file, or end at once after putting each port's settings back).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include "imgload/cli/platform_texts.h"

namespace imgload {

struct StopTarget {
  std::atomic<int>* stop_requested;  // read by every download
  int entry_count;
  std::size_t ports;
  // Shows a note; it is queued, never waits for the output.
  std::function<void(const std::string& text)> note;
  // Called before ending at once with the exit status it ends with: puts
  // each port's settings back and records the ports' runs as ended.
  std::function<void(int exit_status)> end_ports;
  // Called last, after the ended note: writes what it can of the queued
  // output within a short bound.
  std::function<void()> finish_output;
};

// The note of the first stop request: what happens next.
inline std::string stop_note(const StopTarget& target) {
  return std::string(PROGRAM_NAME) +
         (target.ports > 1 ? ": stop requested: every port finishes its current file, "
                             "then ends (Ctrl-C again ends at once)"
          : target.entry_count > 1
              ? ": stop requested: the current file is finished, then the run ends "
                "(Ctrl-C again ends at once)"
              : ": stop requested; with one file the run goes on to its end "
                "(Ctrl-C again ends at once)");
}

// The note of ending at once.
inline std::string ended_note(const StopTarget& target) {
  return std::string(PROGRAM_NAME) +
         (target.ports > 1 ? ": ended at once; the ports are closed" : ": ended at once; the port is closed");
}

// Keeps the platform's stop signals from ending the process in this thread
// and every thread it starts from now on; called before any thread starts
// (the output's included). A signal that comes meanwhile waits for
// start_stop_signals.
void hold_stop_signals();
// Takes the platform's stop signals from now on, on a thread of its own.
void start_stop_signals(const StopTarget& target);
// The run's parts are going away: from now on a stop signal ends the
// process as it would by default. Returns once no first request is being
// handled.
void release_stop_signals();

}  // namespace imgload
