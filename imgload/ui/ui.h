// State and procedures of the downloader's Windows front end: the dialogs of
// the user-interface thread and the one worker thread that runs downloads.
#pragma once

#include <windows.h>

#include <atomic>

namespace imgload {

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
// What the worker runs once per progress dialog: run_download, or a test's
// scripted run.
extern void (*download_runner)();

// Messages through which the worker has the user-interface thread carry out
// its output, in order; each is sent, so the worker goes on only after the
// dialog has acted on it.
constexpr UINT WM_VIEW_SET_TEXT = WM_APP + 1;        // wParam control id, lParam text
constexpr UINT WM_VIEW_PROGRESS_RESET = WM_APP + 2;  // wParam maximum
constexpr UINT WM_VIEW_PROGRESS_STEP = WM_APP + 3;
constexpr UINT WM_VIEW_RUN_STATE = WM_APP + 4;       // wParam 0 run begins, 1 run ended

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
