// The stop events of the Windows console: Ctrl-C or Ctrl-Break once asks
// every port to stop after its current file; a second ends at once. Closing
// the console, logging off or shutting down stops like the first, or ends at
// once when a stop was asked already.
#include <windows.h>

#include <cstdio>

#include "platform/console.h"
#include "cli/program.h"
#include "imgload/cli/stop_signals.h"

namespace imgload {
namespace {


// The handler is a plain function the system calls on a thread of its own:
// what it acts on lives here, set once before it is installed.
struct ConsoleStop {
  StopTarget target;
  std::atomic<int> events{0};  // stop events so far
};
ConsoleStop console_stop;

void ask_to_stop() {
  console_stop.target.stop_requested->store(1);
  if (console_stop.target.note) console_stop.target.note(stop_note(console_stop.target));
}

// The download threads own the ports: their settings are put back from here
// and the system closes the handles (dropping DTR) as the process ends.
void end_at_once() {
  const StopTarget& target = console_stop.target;
  if (target.end_ports) target.end_ports(zp3k::EXIT_INTERRUPTED);
  if (target.note) target.note(ended_note(target));
  if (target.finish_output) target.finish_output();  // the queues, within a bound
  zp3k::finish_console();
  ExitProcess(zp3k::EXIT_INTERRUPTED);
}

BOOL WINAPI on_console_event(DWORD event) {
  const bool first = console_stop.events.fetch_add(1) == 0;
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

// The console's events come on a thread of the system's: nothing to hold
// before the handler is installed.
void hold_stop_signals() {}

void start_stop_signals(const StopTarget& target) {
  console_stop.target = target;
  (void)SetConsoleCtrlHandler(on_console_event, TRUE);
}

// The system's own handling again: a console event ends the process.
void release_stop_signals() { (void)SetConsoleCtrlHandler(on_console_event, FALSE); }

}  // namespace imgload
