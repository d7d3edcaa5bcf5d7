// One port's download as the command line runs it: its view, trace, serial
// port, clock and result, and its line in the production log. A single run
// runs it once; the production loop once per board, on the same port object
// (its reservation held for the loop's whole life).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "imgload/cli/production_log.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/cli/ticker_clock.h"
#include "imgload/cli/trace_file.h"
#include "imgload/download/sequencer.h"
#include "imgload/link/probe.h"

namespace imgload {

// Runs each port's work to its end: one port's on this thread, several on a
// thread each.
template <typename Port>
void run_each_port(const std::vector<std::unique_ptr<Port>>& ports) {
  if (ports.size() == 1) return ports[0]->run();
  std::vector<std::thread> threads;
  for (const std::unique_ptr<Port>& p : ports) threads.emplace_back([&p] { p->run(); });
  for (std::thread& t : threads) t.join();
}

struct PortRun {
  // named: the device is named on every line and event (several ports);
  // row: its row on the terminal. awaits_boards: the loop's port, which has
  // no run to log until its first board begins.
  // port: the device's port object (not open), kept for the run's whole life.
  PortRun(Terminal& terminal, const DownloadJob& job, const SharedImages& images,
          const std::string& device, bool named, int row, TraceFile* trace,
          const std::atomic<int>& stop, const ProductionLog* log, std::unique_ptr<SerialPort> port,
          bool awaits_boards = false);

  // The loop's next board: its unit number and id go into its log line.
  void begin_board(int unit, std::optional<std::string> unit_id);
  // The download, to its end; its log line appended.
  void run();
  // The line of a run the process ends at once (a second stop request):
  // what was sent of it is unknown, the controller is left mid-way. The
  // model is there once "AD" was answered (read here, on the signal's thread,
  // from the download's atomic copy). Nothing for a loop's port between boards.
  void log_ended_at_once(int status);

  const std::string device;
  const ProductionLog* const log;  // null without --log
  // Its line is written (by the run, or at an abrupt end), or there is no run to log.
  std::atomic<bool> logged{false};
  std::atomic<std::chrono::system_clock::time_point> time_start{std::chrono::system_clock::now()};
  TerminalView view;
  std::unique_ptr<TraceFile::Port> port_trace;
  std::unique_ptr<SerialPort> port;  // the device, for the port object's whole life
  HandOverPort link_port;            // the port as the download opens it
  Download download;
  TickerClock clock;
  DownloadResult result;
  double seconds = 0;

 private:
  // Appends the run's log line (once, by the run or at an abrupt end).
  void log_once(const Outcome& outcome, int model);

  std::mutex unit_mutex_;
  int unit_ = 0;  // 0: a single run
  std::optional<std::string> unit_id_;
};

}  // namespace imgload
