// The hand-over between the dialogs and the worker thread, in one process
// under Wine: the worker's output carried out in order before it goes on,
// one run per progress dialog on one worker, the stop and OK buttons, the
// countdown's clock, and the refusal when the worker cannot be created.
#include "imgload/download/messages.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "imgload/download/download_job.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/sequencer.h"
#include "imgload/link/countdown.h"
#include "imgload/ui/ui.h"
#include "imgload_ids.h"
#include "platform/dialog_text.h"

namespace imgload {
namespace {

constexpr int WATCH_PERIOD = 20;          // ms between looks of the watcher
constexpr int STOP_WAIT_LIMIT = 5000;     // ms for the stop request to arrive

// What a scripted run saw from the worker's side.
struct Observed {
  std::vector<std::string> problems;
  std::vector<DWORD> threads;
  int runs = 0;
  int stop_at_start = -1;
  int stop_after_click = -1;
  bool cancel_enabled = false;
  bool ok_enabled = true;
  bool close_item_disabled = false;
  bool open_after_ok = false;
};
Observed seen;
// The state the progress dialogs and the one worker of these tests share.
MainDialogState dialogs;
std::atomic<HWND>& progress_window = dialogs.worker.progress_window;
std::atomic<int>& stop_requested = dialogs.worker.stop_requested;

void problem(const std::string& text) { seen.problems.push_back(text); }

// A control's text (a sent message) in UTF-8.
std::string control_text(int id) {
  std::string text;
  zp3k::narrow(zp3k::item_text(progress_window.load(), id), &text);
  return text;
}

int bar(UINT message, WPARAM wparam = 0) {
  return static_cast<int>(SendDlgItemMessageA(progress_window.load(), IDC_PROGRESS_BAR, message, wparam, 0));
}

// What the dialog's controls were told, recorded on the user-interface
// thread by subclassing them: the worker can look at it without a message of
// its own, which would let an output that was only posted catch up first.
struct Told {
  int control;
  UINT message;
  std::string text;
};
std::mutex told_lock;
std::vector<Told> told;
WNDPROC original_procs[4];
const int kWatched[4] = {IDC_PROGRESS_STATUS, IDC_PROGRESS_FILE, IDC_PROGRESS_BLOCK, IDC_PROGRESS_BAR};

LRESULT CALLBACK recording_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const int id = GetDlgCtrlID(window);
  int slot = 0;
  while (slot < 3 && kWatched[slot] != id) ++slot;
  if (message == WM_SETTEXT || message == PBM_SETRANGE || message == PBM_STEPIT ||
      message == PBM_SETPOS || message == PBM_SETSTEP) {
    std::lock_guard<std::mutex> hold(told_lock);
    // The dialog is a Unicode window: the text arrives in UTF-16 and is kept
    // in UTF-8, as the core handed it over.
    std::string text;
    if (message == WM_SETTEXT) zp3k::narrow(reinterpret_cast<const wchar_t*>(lparam), &text);
    told.push_back({id, message, text});
  }
  return CallWindowProcW(original_procs[slot], window, message, wparam, lparam);
}

void watch_controls(HWND dialog) {
  std::lock_guard<std::mutex> hold(told_lock);
  told.clear();
  for (int i = 0; i < 4; ++i) {
    original_procs[i] = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        GetDlgItem(dialog, kWatched[i]), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(recording_proc)));
  }
}

// The last thing the controls were told, and how many things so far.
Told last_told(size_t* count) {
  std::lock_guard<std::mutex> hold(told_lock);
  *count = told.size();
  return told.empty() ? Told{0, 0, ""} : told.back();
}

void expect_told(size_t before, int control, UINT message, const std::string& text,
                 const char* what) {
  size_t count = 0;
  Told t = last_told(&count);
  if (count <= before || t.control != control || t.message != message || t.text != text)
    problem(std::string("not carried out before the call returned: ") + what);
}

// Every output must have been carried out when its call returns, and so in
// the order issued.
void run_with_output(WorkerState& worker, ProgressView& view, Clock& clock) {
  ++seen.runs;
  seen.threads.push_back(GetCurrentThreadId());
  seen.stop_at_start = stop_requested.load();
  HWND dialog = progress_window.load();
  seen.ok_enabled = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
  seen.cancel_enabled = IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE;
  UINT state = GetMenuState(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND);
  seen.close_item_disabled = state != static_cast<UINT>(-1) && (state & MF_DISABLED) != 0;

  watch_controls(dialog);
  size_t count = 0;
  last_told(&count);
  view.transfer_started();
  expect_told(count, IDC_PROGRESS_STATUS, WM_SETTEXT, dialog_text(TEXT_TRANSFER_NOTICE), "status");
  last_told(&count);
  view.file_started(1, "", 39);  // the bar's range: 39 blocks and the end of the file
  expect_told(count, IDC_PROGRESS_BAR, PBM_SETPOS, "", "progress reset");
  if (control_text(IDC_PROGRESS_FILE) != "No.1") problem("file label text");
  for (int block = 1; block <= 39; ++block) {
    char label[32];
    std::snprintf(label, sizeof label, "Block No. %d", block);
    last_told(&count);
    view.block_sent(static_cast<std::uint32_t>(block), 39);
    expect_told(count, IDC_PROGRESS_BAR, PBM_STEPIT, "", "progress step");
    if (control_text(IDC_PROGRESS_BLOCK) != label) problem("block label text");
  }
  last_told(&count);
  view.file_sent(1);
  expect_told(count, IDC_PROGRESS_BAR, PBM_STEPIT, "", "progress step");
  // And what was carried out is what the controls show.
  if (control_text(IDC_PROGRESS_BLOCK) != "Block No. 39") problem("block label text");
  if (bar(PBM_GETRANGE, FALSE) != 40 || bar(PBM_GETPOS) != 40) problem("progress bar position");

  // OK pressed during the run must not close the dialog.
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  ReplyCountdown countdown;
  hand_countdown_to_timer(worker, &countdown);
  countdown.set(1);
  while (!countdown.expired()) clock.wait_tick();
  hand_countdown_to_timer(worker, nullptr);
  seen.open_after_ok = IsWindow(dialog) != FALSE && progress_window.load() == dialog;
}

// Presses the stop button and waits until the worker sees the request.
void run_with_stop(WorkerState&, ProgressView&, Clock&) {
  ++seen.runs;
  seen.threads.push_back(GetCurrentThreadId());
  seen.stop_at_start = stop_requested.load();
  seen.cancel_enabled = IsWindowEnabled(GetDlgItem(progress_window.load(), IDCANCEL)) != FALSE;
  PostMessageA(progress_window.load(), WM_COMMAND, IDCANCEL, 0);
  for (int waited = 0; waited < STOP_WAIT_LIMIT && stop_requested.load() == 0; waited += 10) Sleep(10);
  seen.stop_after_click = stop_requested.load();
}

// Waits out a countdown of 2 through the dialog's timer, then two more ticks.
std::vector<int> countdown_values;
void run_with_countdown(WorkerState& worker, ProgressView&, Clock& clock) {
  ++seen.runs;
  ReplyCountdown countdown;
  hand_countdown_to_timer(worker, &countdown);
  countdown.set(2);
  for (int i = 0; i < 10 && !countdown.expired(); ++i) {
    clock.wait_tick();
    countdown_values.push_back(countdown.value());
  }
  clock.wait_tick();
  clock.wait_tick();
  countdown_values.push_back(countdown.value());
  hand_countdown_to_timer(worker, nullptr);
}

// On the user-interface thread: presses OK as soon as the worker has ended
// the run (OK enabled), as a user would.
VOID CALLBACK press_ok_when_done(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = progress_window.load();
  if (dialog != nullptr && IsWindow(dialog) && IsWindowEnabled(GetDlgItem(dialog, IDOK)))
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

class ImgloadWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen = Observed{};
    countdown_values.clear();
    ASSERT_TRUE(dialogs.worker_handle != nullptr || start_worker_thread(dialogs));
    watcher_ = SetTimer(nullptr, 0, WATCH_PERIOD, press_ok_when_done);
  }
  void TearDown() override { KillTimer(nullptr, watcher_); }
  // One progress dialog, from opening to OK.
  INT_PTR open_progress(int entry_count, DownloadRunner runner) {
    dialogs.job.entry_count = entry_count;
    dialogs.worker.runner = runner;
    return open_progress_dialog(dialogs, nullptr);
  }
  UINT_PTR watcher_ = 0;
};

TEST_F(ImgloadWorkerTest, OutputIsCarriedOutInOrderBeforeTheWorkerGoesOn) {
  ASSERT_EQ(open_progress(3, run_with_output), 1);
  EXPECT_EQ(seen.runs, 1);
  EXPECT_TRUE(seen.problems.empty()) << seen.problems.front();
  EXPECT_FALSE(seen.ok_enabled) << "OK must stay disabled while the run goes on";
  EXPECT_TRUE(seen.close_item_disabled);
  EXPECT_TRUE(seen.open_after_ok) << "OK closed the dialog during the run";
  EXPECT_TRUE(seen.cancel_enabled);
  EXPECT_EQ(seen.stop_at_start, 0);
}

TEST_F(ImgloadWorkerTest, OneWorkerRunsOnceForEveryProgressDialog) {
  // The next dialog opens as soon as the previous one is closed, before the
  // worker is surely back to waiting: no start may be lost.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(open_progress(2, run_with_stop), 1);
  EXPECT_EQ(seen.runs, 3);
  ASSERT_EQ(seen.threads.size(), 3u);
  for (DWORD id : seen.threads) EXPECT_EQ(id, dialogs.worker_id);
  EXPECT_NE(dialogs.worker_id, GetCurrentThreadId());
}

TEST_F(ImgloadWorkerTest, StopButtonSetsTheRequestWhichTheNextDialogClears) {
  ASSERT_EQ(open_progress(3, run_with_stop), 1);
  EXPECT_TRUE(seen.cancel_enabled);
  EXPECT_EQ(seen.stop_at_start, 0);
  EXPECT_EQ(seen.stop_after_click, 1);
  EXPECT_EQ(stop_requested.load(), 1);  // it stays set after the run
  ASSERT_EQ(open_progress(3, run_with_stop), 1);
  EXPECT_EQ(seen.stop_at_start, 0);
}

TEST_F(ImgloadWorkerTest, StopButtonIsDisabledForOneFile) {
  ASSERT_EQ(open_progress(1, run_with_stop), 1);
  EXPECT_FALSE(seen.cancel_enabled);
}

TEST_F(ImgloadWorkerTest, TimerLowersTheCountdownToZeroAndNoFurther) {
  ASSERT_EQ(open_progress(1, run_with_countdown), 1);
  ASSERT_GE(countdown_values.size(), 3u);
  EXPECT_EQ(countdown_values.back(), 0);
  for (size_t i = 1; i < countdown_values.size(); ++i)
    EXPECT_LE(countdown_values[i], countdown_values[i - 1]);
  for (int v : countdown_values) EXPECT_GE(v, 0);
}

// ---- the worker cannot be created

HANDLE WINAPI failing_create_thread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                    DWORD, LPDWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

std::string box_text, box_caption;

BOOL CALLBACK find_box(HWND window, LPARAM) {
  if (GetDlgItem(window, 0xFFFF) == nullptr) return TRUE;
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  zp3k::narrow(zp3k::item_text(window, 0xFFFF), &box_text);
  zp3k::narrow(caption, &box_caption);
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return FALSE;
}

VOID CALLBACK answer_box(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), find_box, 0);
}

TEST(ImgloadMainDialogTest, WorkerThatCannotBeCreatedEndsTheProgramWithAWarning) {
  MainDialogState state;
  state.instance = GetModuleHandleW(nullptr);
  state.create_thread = failing_create_thread;
  box_text.clear();
  UINT_PTR timer = SetTimer(nullptr, 0, WATCH_PERIOD, answer_box);
  INT_PTR result = DialogBoxParamW(state.instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                   MainDialogProc, reinterpret_cast<LPARAM>(&state));
  KillTimer(nullptr, timer);
  EXPECT_EQ(state.worker_handle, nullptr);
  EXPECT_EQ(result, 1);  // ended by the dialog itself, not by a user
  EXPECT_EQ(box_text, "Thred Create Error");
  EXPECT_EQ(box_caption, "Error");
}

}  // namespace
}  // namespace imgload

int main(int argc, char** argv) {
  INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  imgload::dialogs.instance = GetModuleHandleW(nullptr);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
