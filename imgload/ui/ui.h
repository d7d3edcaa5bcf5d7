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

// The job the main and settings dialogs fill in while no download runs; the
// worker's download copies it when a progress dialog opens.
extern DownloadJob download_job;
// Set by the progress dialog's stop button, cleared when the next one opens;
// read by the worker's download once per file.
extern std::atomic<int> stop_requested;

// The program's instance, stored by WinMain for every DialogBoxParamW.
extern HINSTANCE instance;
// The main dialog, owner of the settings and progress dialogs.
extern HWND main_window;
// The open progress dialog; the worker's output goes to it.
extern std::atomic<HWND> progress_window;

// The worker thread and the two events through which it is driven: a start
// per progress dialog (auto-reset, so a start given before the worker is
// back to waiting is kept, never lost) and one per tick of the countdown.
struct WorkerThread {
  HANDLE handle;
  DWORD id;
  HANDLE start_event;
  HANDLE tick_event;
};
extern WorkerThread worker_thread;

// How the main dialog creates the worker; tests replace it to see the
// failure path.
using CreateThreadFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T,
                                             LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
extern CreateThreadFunction create_thread;
// What the worker runs once per progress dialog, with the dialog's view and
// clock: a download of the dialogs' job, or a test's scripted run.
using DownloadRunner = void (*)(ProgressView& view, Clock& clock);
extern DownloadRunner download_runner;
// Worker side: the countdown the progress dialog's timer lowers from now on
// (null: none). The dialog takes it on its own thread, so a tick never
// reaches a countdown that has gone with its download.
void lower_countdown(ReplyCountdown* countdown);

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

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK CommSettingsDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
DWORD WINAPI WorkerThreadProc(LPVOID parameter);

// Creates the two events and the worker; false (nothing left behind) when
// any of them cannot be made.
bool start_worker_thread(HWND main_dialog);
// The open-file dialog; buffer holds 520 UTF-16 units. Nonzero when a file
// was chosen.
int BrowseImageFile(HWND owner, const wchar_t* filter, wchar_t* buffer, DWORD flags);
// Labels 1027 and 1028 of the main dialog from the job's port and speed.
void show_port_and_speed(HWND main_dialog);

}  // namespace imgload
