// The stop events of the Windows console: Ctrl-C or Ctrl-Break once asks
// every port to stop after its current file; a second ends at once. Closing
// the console, logging off or shutting down stops like the first, or ends at
// once when a stop was asked already.
#include <windows.h>

#include <cstdio>

#include "imgload/cli/stop_signals.h"

namespace imgload {
namespace {

constexpr UINT EXIT_INTERRUPTED = 130;  // the second Ctrl-C, as on Linux

// The handler is a plain function the system calls on a thread of its own:
// what it acts on lives here, set once before it is installed.
StopTarget stop_target;
std::atomic<int> stop_events{0};

void ask_to_stop() {
  stop_target.stop_requested->store(1);
  stop_target.view->note(
      stop_target.ports > 1
          ? "imgload: stop requested: every port finishes its current file, then ends "
            "(Ctrl-C again ends at once)"
      : stop_target.entry_count > 1
          ? "imgload: stop requested: the current file is finished, then the run ends "
            "(Ctrl-C again ends at once)"
          : "imgload: stop requested; with one file the run goes on to its end "
            "(Ctrl-C again ends at once)");
}

// The download threads own the ports: their settings are put back from here
// and the system closes the handles (dropping DTR) as the process ends.
void end_at_once() {
  if (stop_target.restore_ports) stop_target.restore_ports();
  stop_target.view->note(stop_target.ports > 1 ? "imgload: ended at once; the ports are closed"
                                               : "imgload: ended at once; the port is closed");
  std::fflush(nullptr);
  ExitProcess(EXIT_INTERRUPTED);
}

BOOL WINAPI on_console_event(DWORD event) {
  const bool first = stop_events.fetch_add(1) == 0;
  if (!first) end_at_once();
  ask_to_stop();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing, logging off or shutting down: the system ends the process as
  // soon as this returns, so the handler waits here while the run finishes
  // its current file (main's return ends the process) or the system's grace
  // time runs out.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void start_stop_signals(const StopTarget& target) {
  stop_target = target;
  (void)SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace imgload
