// State and procedures of the downloader's Windows front end: the dialogs of
// the user-interface thread and the one worker thread that runs downloads.
#pragma once

#include <windows.h>

#include <atomic>

#include "imgload/download/download_job.h"
#include "imgload/download/progress_view.h"
#include "imgload/link/clock.h"
#include "imgload/link/countdown.h"

namespace imgload {

struct WorkerState;

// How the main dialog creates the worker; tests put in one that fails.
using CreateThreadFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T,
                                             LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
// What the worker runs once per progress dialog, with the dialog's view and
// clock: a download of the worker's job, or a test's scripted run.
using DownloadRunner = void (*)(WorkerState& worker, ProgressView& view, Clock& clock);
// The product's runner: one download of the worker's job.
void run_dialog_job(WorkerState& worker, ProgressView& view, Clock& clock);

// What the worker thread is handed through CreateThread; owned by the main
// dialog's state. The events drive it: a start per progress dialog
// (auto-reset, so a start given before the worker is back to waiting is
// kept, never lost) and one per tick of the countdown.
struct WorkerState {
  HANDLE start_event = nullptr;
  HANDLE tick_event = nullptr;
  // The open progress dialog; the worker's output goes to it.
  std::atomic<HWND> progress_window{nullptr};
  // Set by the progress dialog's stop button, cleared when the next one
  // opens; read by the worker's download once per file.
  std::atomic<int> stop_requested{0};
  // The main dialog's job, which the worker's download copies when a
  // progress dialog opens (the main dialog is disabled until it closes).
  const DownloadJob* job = nullptr;
  DownloadRunner runner = run_dialog_job;
};

// The main dialog's state, handed over through DialogBoxParamW's lParam.
struct MainDialogState {
  HINSTANCE instance = nullptr;  // the module of the dialog templates
  CreateThreadFunction create_thread = CreateThread;
  // The job the main and settings dialogs fill in while no download runs.
  DownloadJob job;
  WorkerState worker;
  HANDLE worker_handle = nullptr;
  DWORD worker_id = 0;
};

// Worker side: hands countdown over to the progress dialog's timer, which
// lowers it once a second until another is handed over (null: none). The
// dialog takes it on its own thread, so a tick never reaches a countdown
// that has gone with its download.
void hand_countdown_to_timer(WorkerState& worker, ReplyCountdown* countdown);

// Messages through which the worker has the user-interface thread carry out
// its output, in order; each is sent, so the worker goes on only after the
// dialog has acted on it.
constexpr UINT WM_VIEW_SET_TEXT = WM_APP + 1;        // wParam control id, lParam text
constexpr UINT WM_VIEW_PROGRESS_RESET = WM_APP + 2;  // wParam maximum
constexpr UINT WM_VIEW_PROGRESS_STEP = WM_APP + 3;
constexpr UINT WM_VIEW_RUN_STATE = WM_APP + 4;       // wParam 0 run begins, 1 run ended
constexpr UINT WM_VIEW_COUNTDOWN = WM_APP + 5;       // lParam the countdown to lower, or null

constexpr UINT_PTR COUNTDOWN_TIMER_ID = 1;
constexpr UINT COUNTDOWN_TIMER_PERIOD = 1000;  // ms, one tick of the reply countdown

// The state a dialog procedure keeps in DWLP_USER: taken from lParam at
// WM_INITDIALOG, read back for every message; null before WM_INITDIALOG.
template <typename State>
State* dialog_state(HWND window, UINT message, LPARAM lparam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lparam);
  return reinterpret_cast<State*>(GetWindowLongPtrW(window, DWLP_USER));
}

// lParam: the MainDialogState, which outlives the dialog.
INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
DWORD WINAPI WorkerThreadProc(LPVOID worker_state);

// Creates the two events and the worker, handing it state.worker; false
// (nothing left behind) when any of them cannot be made.
bool start_worker_thread(MainDialogState& state);
// The progress dialog of one run of state's job, owned by owner; the worker
// must have been started.
INT_PTR open_progress_dialog(MainDialogState& state, HWND owner);
// The settings dialog for state's port and speed, owned by the main dialog.
void open_settings_dialog(MainDialogState& state, HWND main_dialog);
// The open-file dialog; buffer holds zp3k::PATH_LIMIT + 1 UTF-16 units. Nonzero when a file
// was chosen.
int BrowseImageFile(HWND owner, const wchar_t* filter, wchar_t* buffer, DWORD flags);
// Labels 1027 and 1028 of the main dialog from the job's port and speed.
void show_port_and_speed(HWND main_dialog, const DownloadJob& job);

}  // namespace imgload
