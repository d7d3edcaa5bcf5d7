// Entry point of imgload.exe: runs the main dialog; the command line is not
// read and the exit code is always 0.
#include <windows.h>
#include <commctrl.h>

#include "imgload/ui/ui.h"
#include "imgload_ids.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  // The progress dialog's bar is a common control; its class must exist
  // before the dialog is made from its template.
  INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // The state of the dialogs and the worker, kept until the program ends.
  imgload::MainDialogState state;
  state.instance = instance;
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, imgload::MainDialogProc,
                  reinterpret_cast<LPARAM>(&state));
  return 0;
}
