// The progress dialog (template 130), the worker thread that runs one
// download per opening of it, and the Win32 clock and progress view through
// which the worker reaches the dialog.
#include "imgload/download/messages.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "imgload/download/download_job.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/sequencer.h"
#include "imgload/download/status_line.h"
#include "imgload/link/countdown.h"
#include "imgload/ui/ui.h"
#include "imgload_ids.h"
#include "platform/dialog_text.h"

namespace imgload {

namespace {

constexpr DWORD TICK_WAIT_LIMIT = 1100;  // ms; a tick is due every 1000 ms

// Output of the worker, carried out by the user-interface thread: every call
// is a message sent to the progress dialog, so the calls are done in the
// order issued and each is finished before the worker goes on. The
// user-interface thread never waits for the worker, so this cannot deadlock.
class DialogProgressView : public ProgressView {
 public:
  explicit DialogProgressView(const std::atomic<HWND>& window) : progress_window(window) {}
  void run_started(int) override { reset_bar(IDLE_RANGE); }
  void transfer_started() override {
    StatusText notice;
    notice.kind = StatusText::TRANSFER_NOTICE;
    set_text(IDC_PROGRESS_STATUS, status_text(notice).c_str());
  }
  void file_started(int number, const char*, std::uint32_t blocks) override {
    char label[LABEL_SIZE];
    std::snprintf(label, sizeof label, "No.%01d", number);
    set_text(IDC_PROGRESS_FILE, label);
    // One step per block and one for the end of the file.
    reset_bar(progress_maximum(blocks * DATA_BLOCK_SIZE, DATA_BLOCK_SIZE));
  }
  void block_sent(std::uint32_t number, std::uint32_t) override {
    char label[LABEL_SIZE];
    std::snprintf(label, sizeof label, "Block No. %ld", static_cast<long>(number));
    set_text(IDC_PROGRESS_BLOCK, label);
    step_bar();
  }
  void file_sent(int) override { step_bar(); }
  void file_finished(int, bool another_follows) override {
    if (another_follows) reset_bar(IDLE_RANGE);
  }
  void ended(const DownloadResult& result) override {
    set_text(IDC_PROGRESS_STATUS, status_text(status_for(result)).c_str());
  }

 private:
  static constexpr int LABEL_SIZE = 32;  // bytes, file and block labels
  static constexpr unsigned IDLE_RANGE = 3;  // the bar before and between files: 0..3
  const std::atomic<HWND>& progress_window;  // the worker's, set by each dialog
  void set_text(int control_id, const char* text) {
    SendMessageW(progress_window.load(), WM_VIEW_SET_TEXT, static_cast<WPARAM>(control_id),
                 reinterpret_cast<LPARAM>(text));
  }
  void reset_bar(unsigned maximum) {
    SendMessageW(progress_window.load(), WM_VIEW_PROGRESS_RESET, maximum, 0);
  }
  void step_bar() { SendMessageW(progress_window.load(), WM_VIEW_PROGRESS_STEP, 0, 0); }
};

// The reply countdown is lowered by the progress dialog's timer, which also
// signals the tick event; a pause waits on that event instead of spinning.
class DialogTimerClock : public Clock {
 public:
  explicit DialogTimerClock(HANDLE tick_event) : tick_event_(tick_event) {}
  void wait_tick() override { WaitForSingleObject(tick_event_, TICK_WAIT_LIMIT); }
  void sleep_ms(unsigned ms) override { Sleep(ms); }

 private:
  HANDLE tick_event_;
};

// One opening of the progress dialog, handed over through its lParam.
struct ProgressDialogState {
  WorkerState* worker;
  int entry_count;
  // The countdown of the worker's download; used on the user-interface thread only.
  ReplyCountdown* countdown = nullptr;
  // Whether the run has ended; until it has, OK must not close the dialog,
  // because the worker still writes into it.
  bool run_ended = false;
};

void set_run_state(HWND window, ProgressDialogState& state, bool ended) {
  state.run_ended = ended;
  EnableWindow(GetDlgItem(window, IDOK), ended ? TRUE : FALSE);
}

}  // namespace

// A download of the job the main and settings dialogs filled in. Its text
// is left in the dialog; the outcome needs no other reader.
void run_dialog_job(WorkerState& worker, ProgressView& view, Clock& clock) {
  const std::unique_ptr<SerialPort> port = make_system_port();
  Download download(*worker.job, worker.stop_requested, *port, view);
  hand_countdown_to_timer(worker, &download.countdown());
  (void)download.run(clock);
  hand_countdown_to_timer(worker, nullptr);
}

void hand_countdown_to_timer(WorkerState& worker, ReplyCountdown* countdown) {
  SendMessageW(worker.progress_window.load(), WM_VIEW_COUNTDOWN, 0,
               reinterpret_cast<LPARAM>(countdown));
}

DWORD WINAPI WorkerThreadProc(LPVOID worker_state) {
  WorkerState& worker = *static_cast<WorkerState*>(worker_state);
  DialogProgressView view(worker.progress_window);
  DialogTimerClock clock(worker.tick_event);
  for (;;) {
    // One start per progress dialog; a start given while the previous run
    // was still finishing stays signalled and is taken here.
    if (WaitForSingleObject(worker.start_event, INFINITE) != WAIT_OBJECT_0) return 1;
    SendMessageW(worker.progress_window.load(), WM_VIEW_RUN_STATE, 0, 0);
    worker.runner(worker, view, clock);
    SendMessageW(worker.progress_window.load(), WM_VIEW_RUN_STATE, 1, 0);
  }
}

bool start_worker_thread(MainDialogState& state) {
  WorkerState& worker = state.worker;
  worker.job = &state.job;
  worker.start_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  worker.tick_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (worker.start_event != nullptr && worker.tick_event != nullptr) {
    state.worker_handle =
        state.create_thread(nullptr, 0, WorkerThreadProc, &worker, 0, &state.worker_id);
    if (state.worker_handle != nullptr) return true;
  }
  if (worker.start_event != nullptr) CloseHandle(worker.start_event);
  if (worker.tick_event != nullptr) CloseHandle(worker.tick_event);
  worker.start_event = worker.tick_event = nullptr;
  state.worker_id = 0;
  return false;
}

namespace {

void initialise(HWND window, ProgressDialogState& state) {
  // Stored before the worker is started, so its output reaches this dialog.
  state.worker->progress_window.store(window);
  SetWindowTextW(window, zp3k::widen(dialog_text(TEXT_TITLE)).c_str());
  zp3k::set_item_text(window, IDCANCEL, dialog_text(TEXT_STOP_BUTTON));
  if (state.entry_count == 1) EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
  set_run_state(window, state, false);
  EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_DISABLED);
  SetTimer(window, COUNTDOWN_TIMER_ID, COUNTDOWN_TIMER_PERIOD, nullptr);
  state.worker->stop_requested.store(0);
  SetEvent(state.worker->start_event);
}

// The worker's output messages, applied to the dialog's controls and state
// on this thread; FALSE for any other message.
INT_PTR apply_view_message(HWND window, ProgressDialogState& state, UINT message, WPARAM wparam,
                           LPARAM lparam) {
  switch (message) {
    case WM_VIEW_SET_TEXT:  // the core's UTF-8 text, shown in UTF-16
      zp3k::set_item_text(window, static_cast<int>(wparam), reinterpret_cast<const char*>(lparam));
      return TRUE;

    case WM_VIEW_PROGRESS_RESET: {
      HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
      SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(wparam)));
      SendMessageW(bar, PBM_SETSTEP, 1, 0);
      SendMessageW(bar, PBM_SETPOS, 0, 0);
      return TRUE;
    }

    case WM_VIEW_PROGRESS_STEP:
      SendMessageW(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_STEPIT, 0, 0);
      return TRUE;

    case WM_VIEW_RUN_STATE:
      set_run_state(window, state, wparam != 0);
      return TRUE;

    case WM_VIEW_COUNTDOWN:
      state.countdown = reinterpret_cast<ReplyCountdown*>(lparam);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = dialog_state<ProgressDialogState>(window, message, lparam);
  if (state == nullptr) return FALSE;  // a message before WM_INITDIALOG
  switch (message) {
    case WM_INITDIALOG:
      initialise(window, *state);
      return TRUE;

    case WM_TIMER:
      if (state->countdown != nullptr) state->countdown->tick();
      SetEvent(state->worker->tick_event);
      return TRUE;

    case WM_COMMAND:
      if (wparam == IDOK) {
        if (state->run_ended) EndDialog(window, 1);
        return TRUE;
      }
      if (wparam == IDCANCEL) {
        state->worker->stop_requested.store(1);
        return TRUE;
      }
      return FALSE;

    case WM_DESTROY:
      KillTimer(window, COUNTDOWN_TIMER_ID);
      return TRUE;
  }
  return apply_view_message(window, *state, message, wparam, lparam);
}

}  // namespace

INT_PTR open_progress_dialog(MainDialogState& state, HWND owner) {
  ProgressDialogState progress = {&state.worker, state.job.entry_count};
  return DialogBoxParamW(state.instance, MAKEINTRESOURCEW(IDD_PROGRESS), owner,
                         ProgressDialogProc, reinterpret_cast<LPARAM>(&progress));
}

}  // namespace imgload
