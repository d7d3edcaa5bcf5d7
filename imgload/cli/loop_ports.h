// The production loop on every port at once, each port's loop on a thread of
// its own: the waits for a board and for it to leave (the quiet model
// request every half second, a status line when something changes), the
// board flashed by the port's download, the board's line, and the unit ids
// asked one prompt at a time. A stop ends a waiting loop at once and a
// flashing one after its current file.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imgload/cli/port_run.h"
#include "imgload/cli/production_loop.h"
#include "imgload/cli/run_output.h"

namespace imgload {

// What the loops wait on besides their probes: the stop request and the
// operator's lines. One lock and condition for all of it, so that a wait for
// the next probe or for a unit id ends as soon as a stop comes.
class LoopSignals {
 public:
  explicit LoopSignals(std::atomic<int>& stop_requested) : stop_(stop_requested) {}

  bool stopped() const { return stop_.load() != 0; }
  // A stop was requested (the stop's atomic is set): every wait ends.
  void wake();
  // Sets the stop request, as a stop signal would, and wakes every wait.
  void request_stop();
  // Waits until deadline; true when a stop ended the wait (or came before).
  bool sleep_until(std::chrono::steady_clock::time_point deadline);

  // The operator's lines, from the thread that reads them.
  void add_line(std::string line);
  void end_input();
  // Reads standard input into the lines on a thread of its own, which ends
  // with the input (or with the process).
  static void start_reading(const std::shared_ptr<LoopSignals>& signals);

  enum class Taken { LINE, STOPPED, INPUT_ENDED };
  // One prompt at a time over all ports: waits for the turn, calls prompt,
  // waits for a line that is not blank (asking again after a blank one) and
  // gives it trimmed of spaces; or the stop, or the input's end.
  Taken take_line(const std::function<void()>& prompt, std::string* line);

 private:
  Taken release_turn(Taken taken);

  std::atomic<int>& stop_;  // not touched by the reading thread
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  bool input_ended_ = false;
  bool prompting_ = false;  // a port has the prompt
};

// The loops' figures, each port's in the order given.
using LoopSummaries = std::vector<LoopSummary>;

// Runs each run's port in a loop of its own, on a thread each, until each
// has ended (the plan's count, a stop, the input's end); the ports are
// closed at the end. rows: the ports have status rows on the terminal.
LoopSummaries run_loop_ports(const std::vector<std::unique_ptr<PortRun>>& runs, const LoopPlan& plan,
                             Terminal& terminal, LoopSignals& signals);

// The loop's end: each port's "loop_end" event, or the closing table (with
// -q too), then the "summary" event with what the output lost. Returns the
// exit status (loop_exit_status).
int report_loop(const LoopSummaries& ports, Terminal& terminal, const OutputLosses& losses);

// The note of a first stop request during the loop.
extern const char LOOP_STOP_NOTE[];

}  // namespace imgload
