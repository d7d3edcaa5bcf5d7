// Interruption of the Windows console program: a console control handler
// that removes the temporary output file and ends the program at once.
#include <windows.h>

#include "cli/program.h"
#include "imgconv/cli/interrupt.h"
#include "imgconv/file_services.h"

namespace imgconv {
namespace {


// Runs on a thread of its own while the conversion goes on. The process is
// ended with TerminateProcess rather than ExitProcess: nothing of the C
// runtime runs after the event, so a lock the converting thread holds
// cannot stop the end, and the temporary file, once discarded, is never
// moved into place.
BOOL WINAPI on_console_event(DWORD) {
  discard_pending_temp();
  TerminateProcess(GetCurrentProcess(), zp3k::EXIT_INTERRUPTED);
  return TRUE;
}

}  // namespace

void end_cleanly_when_interrupted() { (void)SetConsoleCtrlHandler(on_console_event, TRUE); }

}  // namespace imgconv
