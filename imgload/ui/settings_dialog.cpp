// The communication settings dialog (template 131): COM port and line speed
// of the next download, stored in the job and shown in the main dialog.
#include "imgload/download/messages.h"

#include <windows.h>

#include "imgload/download/download_job.h"
#include "imgload/ui/ui.h"
#include "imgload_ids.h"
#include "platform/dialog_text.h"

namespace imgload {
namespace {

constexpr int PORT_COUNT = 4;  // COM1..COM4; the speeds are the protocol's SPEED_COUNT

// One opening of the dialog, handed over through its lParam: the main
// dialog's job and the main dialog, whose labels show what was accepted.
struct SettingsDialogState {
  DownloadJob* job;
  HWND main_dialog;
};

bool checked(HWND window, int id) {
  return SendDlgItemMessageW(window, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void initialise(HWND window, const SettingsDialogState& state) {
  const DownloadJob& job = *state.job;
  for (int k = 1; k <= PORT_COUNT; ++k) {
    SendDlgItemMessageW(window, IDC_SETTINGS_COM1 + (k - 1), BM_SETCHECK,
                        k == job.port_number ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  for (int j = 0; j < SPEED_COUNT; ++j) {
    SendDlgItemMessageW(window, IDC_SETTINGS_9600 + j, BM_SETCHECK,
                        j == job.speed_index ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  SetWindowTextW(window, zp3k::widen(dialog_text(TEXT_TITLE)).c_str());
  zp3k::set_item_text(window, IDC_SETTINGS_PORT_GROUP, dialog_text(20));
  zp3k::set_item_text(window, IDC_SETTINGS_SPEED_GROUP, dialog_text(21));
  zp3k::set_item_text(window, IDOK, dialog_text(22));
  zp3k::set_item_text(window, IDCANCEL, dialog_text(23));
}

void accept(HWND window, const SettingsDialogState& state) {
  DownloadJob& job = *state.job;
  // Every button is read, in order; the last checked one wins.
  for (int k = 0; k < PORT_COUNT; ++k) {
    if (checked(window, IDC_SETTINGS_COM1 + k)) job.port_number = k + 1;
  }
  for (int j = 0; j < SPEED_COUNT; ++j) {
    if (checked(window, IDC_SETTINGS_9600 + j)) job.speed_index = j;
  }
  show_port_and_speed(state.main_dialog, job);
}

INT_PTR CALLBACK CommSettingsDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = dialog_state<const SettingsDialogState>(window, message, lparam);
  if (state == nullptr) return FALSE;  // a message before WM_INITDIALOG
  switch (message) {
    case WM_INITDIALOG:
      initialise(window, *state);
      return TRUE;
    case WM_COMMAND:
      if (wparam == IDOK) {
        accept(window, *state);
        EndDialog(window, 1);
        return TRUE;
      }
      if (wparam == IDCANCEL) {
        EndDialog(window, 1);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void open_settings_dialog(MainDialogState& state, HWND main_dialog) {
  SettingsDialogState settings = {&state.job, main_dialog};
  DialogBoxParamW(state.instance, MAKEINTRESOURCEW(IDD_COMM_SETTINGS), main_dialog,
                  CommSettingsDialogProc, reinterpret_cast<LPARAM>(&settings));
}

}  // namespace imgload
