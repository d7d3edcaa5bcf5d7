// The downloader's main dialog (template 129): the count of files, the rows
// of path and start address, browsing, the settings button, the checks of
// every active row and the start of a download. Texts reach the system in
// UTF-16; paths and addresses reach the core in UTF-8.
#include "imgload/download/messages.h"

#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <string>

#include "imgload/download/download_job.h"
#include "imgload/download/job_checks.h"
#include "image/paths.h"
#include "imgload/ui/ui.h"
#include "imgload_ids.h"
#include "platform/dialog_text.h"

namespace imgload {

namespace {

// UTF-16 units read from a path edit, NUL included: a path as long as the
// file system takes. Paths count units, as the file system does.
constexpr int EDIT_TEXT_LIMIT = zp3k::PATH_LIMIT + 1;
constexpr int ADDRESS_TEXT_LIMIT = 12;   // units read from an address edit, NUL included
constexpr DWORD BROWSE_BUFFER_UNITS = zp3k::PATH_LIMIT + 1;  // file name of the open-file dialog, NUL included
constexpr DWORD BROWSE_FLAGS = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
constexpr std::uint32_t DEFAULT_START_ADDRESS = 0x8000;
constexpr DWORD DESTROY_GRACE = 10;      // ms before the worker's handle is closed

// Dialog texts by control, set at WM_INITDIALOG from the message table.
struct ControlText {
  int id;
  int row;
};
constexpr ControlText kMainTexts[] = {
    {IDC_MAIN_COUNT_GROUP, 25}, {IDC_MAIN_COUNT1, 26}, {IDC_MAIN_COUNT2, 27},
    {IDC_MAIN_COUNT3, 28}, {IDC_MAIN_SETTINGS_GROUP, 1}, {IDC_MAIN_NO_HEADING, 2},
    {IDC_MAIN_PATH_HEADING, 3}, {IDC_MAIN_ADDRESS_HEADING, 4}, {IDC_MAIN_ROW1, 5},
    {IDC_MAIN_ROW2, 6}, {IDC_MAIN_ROW3, 7}, {IDC_MAIN_BROWSE1, 8}, {IDC_MAIN_BROWSE2, 9},
    {IDC_MAIN_BROWSE3, 10}, {IDC_MAIN_DASH1, 11}, {IDC_MAIN_DASH2, 12}, {IDC_MAIN_DASH3, 13},
    {IDC_MAIN_COMM_GROUP, 14}, {IDC_MAIN_PORT_CAPTION, 15}, {IDC_MAIN_SPEED_CAPTION, 16},
    {IDC_MAIN_SETTINGS, 17}, {IDOK, 18}, {IDCANCEL, 19}, {IDC_MAIN_RUN_AFTER, 30},
};

// One row of the job: path edit, browse button, address edit, and the
// count button that makes it the last active row.
struct Row {
  int path;
  int browse;
  int address;
  int count;
};
constexpr Row kRows[MAX_ENTRIES] = {
    {IDC_MAIN_PATH1, IDC_MAIN_BROWSE1, IDC_MAIN_ADDRESS1, IDC_MAIN_COUNT1},
    {IDC_MAIN_PATH2, IDC_MAIN_BROWSE2, IDC_MAIN_ADDRESS2, IDC_MAIN_COUNT2},
    {IDC_MAIN_PATH3, IDC_MAIN_BROWSE3, IDC_MAIN_ADDRESS3, IDC_MAIN_COUNT3},
};

// "Bin Files(*.bin)", "*.bin", "All Files(*.*)", "*.*", double-NUL ended.
constexpr wchar_t kBrowseFilter[] = L"Bin Files(*.bin)\0*.bin\0All Files(*.*)\0*.*\0";
constexpr wchar_t kBrowseTitle[] = L"ファイルを開く";

// The text of an edit in UTF-8, read up to limit - 1 units as the buffer of
// GetDlgItemTextW would take it, into out (out_size bytes). False when it
// does not fit or holds an unpaired surrogate: no file can have that name.
bool read_edit(HWND window, int id, int limit, char* out, std::size_t out_size) {
  std::wstring wide(static_cast<std::size_t>(limit), L'\0');
  wide.resize(GetDlgItemTextW(window, id, &wide[0], limit));
  std::string utf8;
  if (!zp3k::narrow(wide, &utf8) || utf8.size() + 1 > out_size) return false;
  std::memcpy(out, utf8.c_str(), utf8.size() + 1);
  return true;
}

void choose_entry_count(HWND window, DownloadJob& job, int count) {
  job.entry_count = count;
  // The first row is always active.
  for (int i = 1; i < MAX_ENTRIES; ++i) {
    const BOOL active = count > i ? TRUE : FALSE;
    for (int id : {kRows[i].path, kRows[i].browse, kRows[i].address}) {
      EnableWindow(GetDlgItem(window, id), active);
    }
  }
}

void browse_row(HWND window, int path_edit) {
  wchar_t buffer[BROWSE_BUFFER_UNITS] = {};
  if (BrowseImageFile(window, kBrowseFilter, buffer, BROWSE_FLAGS) == 0) return;
  SetDlgItemTextW(window, path_edit, buffer);
  SendMessageW(GetDlgItem(window, path_edit), EM_SETSEL, 0, -1);
}

// The message row of the first failing check of row index i, or -1 when the
// row passes. The path is completed in the job before the file is opened,
// and the address is looked at only after both.
int check_row(HWND window, DownloadJob& job, int i) {
  char* path = job.paths[i];
  if (!read_edit(window, kRows[i].path, EDIT_TEXT_LIMIT, path, JOB_PATH_SIZE)) return MSG_BAD_PATH;
  if (CompletePath(path) != 1) return MSG_BAD_PATH;
  switch (CheckImageFile(path)) {
    case 0:
      break;
    case 1:
      return MSG_FILE_OPEN;
    default:
      return MSG_BAD_SIZE;
  }
  // Every accepted address is ASCII; a text too long in UTF-8 is refused.
  char address[ADDRESS_TEXT_LIMIT * 3];
  if (!read_edit(window, kRows[i].address, ADDRESS_TEXT_LIMIT, address, sizeof address)) {
    return MSG_BAD_ADDRESS;
  }
  if (ParseStartAddress(address, &job.start_addresses[i]) != 1) return MSG_BAD_ADDRESS;
  return -1;
}

void start_download(HWND window, MainDialogState& state) {
  DownloadJob& job = state.job;
  job.run_after_download =
      SendDlgItemMessageW(window, IDC_MAIN_RUN_AFTER, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  for (int i = 0; i < job.entry_count; ++i) {
    const int row = check_row(window, job, i);
    if (row >= 0) {
      const std::wstring text =
          zp3k::widen(message_text(row)) + L"(No." + std::to_wstring(i + 1) + L")";
      MessageBoxW(window, text.c_str(), zp3k::widen(dialog_text(TEXT_TITLE)).c_str(),
                  MB_OK | MB_ICONWARNING);
      return;
    }
  }
  open_progress_dialog(state, window);
}

void initialise(HWND window, MainDialogState& state) {
  SetWindowTextW(window, zp3k::widen(dialog_text(TEXT_TITLE)).c_str());
  for (const ControlText& t : kMainTexts) zp3k::set_item_text(window, t.id, dialog_text(t.row));

  for (const Row& r : kRows) {  // one file at first
    const WPARAM check = r.count == IDC_MAIN_COUNT1 ? BST_CHECKED : BST_UNCHECKED;
    SendDlgItemMessageW(window, r.count, BM_SETCHECK, check, 0);
  }
  choose_entry_count(window, state.job, 1);
  SendDlgItemMessageW(window, IDC_MAIN_RUN_AFTER, BM_SETCHECK, BST_CHECKED, 0);

  state.job.port_number = 1;
  state.job.speed_index = 4;
  show_port_and_speed(window, state.job);

  if (!start_worker_thread(state)) {
    MessageBoxW(window, L"Thred Create Error", L"Error", MB_TOPMOST | MB_ICONWARNING);
    EndDialog(window, 1);
  }

  wchar_t address[ADDRESS_TEXT_LIMIT];
  wsprintfW(address, L"%07X", DEFAULT_START_ADDRESS);
  for (const Row& r : kRows) SetDlgItemTextW(window, r.address, address);
}

void command(HWND window, MainDialogState& state, WPARAM id) {
  for (int i = 0; i < MAX_ENTRIES; ++i) {
    if (id == static_cast<WPARAM>(kRows[i].count)) choose_entry_count(window, state.job, i + 1);
    if (id == static_cast<WPARAM>(kRows[i].browse)) browse_row(window, kRows[i].path);
  }
  switch (id) {
    case IDOK:
      start_download(window, state);
      break;
    case IDCANCEL:
      EndDialog(window, 1);
      break;
    case IDC_MAIN_SETTINGS:
      open_settings_dialog(state, window);
      break;
  }
}

}  // namespace

void show_port_and_speed(HWND main_dialog, const DownloadJob& job) {
  zp3k::set_item_text(main_dialog, IDC_MAIN_PORT_LABEL, PORT_NAMES[job.port_number]);
  const std::string speed = std::string(SPEED_TEXTS[job.speed_index]) + "bps";
  zp3k::set_item_text(main_dialog, IDC_MAIN_SPEED_LABEL, speed.c_str());
}

int BrowseImageFile(HWND owner, const wchar_t* filter, wchar_t* buffer, DWORD flags) {
  OPENFILENAMEW record;
  std::memset(&record, 0, sizeof record);
  // The record of the older layout, which every version of the common
  // dialogs accepts.
  record.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  record.hwndOwner = owner;
  record.lpstrFilter = filter;
  record.nFilterIndex = 0;
  record.lpstrFile = buffer;
  record.nMaxFile = BROWSE_BUFFER_UNITS;
  record.lpstrTitle = kBrowseTitle;
  record.Flags = flags;
  return GetOpenFileNameW(&record);
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = dialog_state<MainDialogState>(window, message, lparam);
  if (state == nullptr) return FALSE;  // a message before WM_INITDIALOG
  switch (message) {
    case WM_INITDIALOG:
      initialise(window, *state);
      return TRUE;

    case WM_COMMAND:
      // Only clicks act: the whole wParam is the control id.
      command(window, *state, wparam);
      return TRUE;

    case WM_DESTROY:
      if (state->worker_handle != nullptr) {
        Sleep(DESTROY_GRACE);
        CloseHandle(state->worker_handle);
        state->worker_handle = nullptr;
      }
      return TRUE;
  }
  return FALSE;
}

}  // namespace imgload
