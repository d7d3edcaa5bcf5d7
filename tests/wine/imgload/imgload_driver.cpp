// Drives imgload.exe through its dialogs from a second Windows process under
// Wine: checks layouts, texts and states, runs downloads and writes
// screenshots. One scenario per run; exit code 0 when every check held.
#include <windows.h>
#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;  // the static of a message box
constexpr DWORD POLL_MS = 50;                // ms between looks at the dialogs
constexpr DWORD SHORT_WAIT_MS = 15000;       // ms for a dialog to appear
constexpr DWORD RUN_WAIT_MS = 120000;        // ms for a download to end

int failures = 0;
std::string shots_dir;
PROCESS_INFORMATION program = {};

void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::printf("FAIL: ");
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(args);
  ++failures;
}

void note(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(args);
}

// Expected texts are written in UTF-16 and compared as the program's code
// page (932) has them, byte for byte.
std::string cp932(const wchar_t* text) {
  int n = WideCharToMultiByte(932, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(932, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(n - 1);
  return out;
}

// A text of the program (cp932) as UTF-8 for the log, line breaks shown as \n.
std::string printable(const std::string& s) {
  std::wstring wide(s.size() + 1, L'\0');
  int n = MultiByteToWideChar(932, 0, s.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  std::string out(n * 4 + 1, '\0');
  int m = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], static_cast<int>(out.size()),
                              nullptr, nullptr);
  out.resize(m > 0 ? m - 1 : 0);
  std::string shown;
  for (char c : out) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
  return shown;
}

std::string text_of(HWND window) {
  char buffer[1024] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                      SMTO_ABORTIFHUNG, 5000, &result);
  return buffer;
}

std::string item_text(HWND dialog, int id) { return text_of(GetDlgItem(dialog, id)); }

void expect_text(HWND dialog, int id, const wchar_t* expected, const char* what) {
  std::string got = item_text(dialog, id);
  std::string want = cp932(expected);
  if (got != want) fail("%s: control %d text \"%s\", expected \"%s\"", what, id,
                        printable(got).c_str(), printable(want).c_str());
}

bool checked(HWND dialog, int id) {
  return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

void set_text(HWND dialog, int id, const std::string& text) {
  SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// A click whose handler may open a modal dialog: posted, so the driver is
// not held until that dialog closes.
void post_click(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// A real button click (radio buttons check themselves and their group).
void click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

struct Search {
  DWORD pid;
  int marker;
  HWND found;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM parameter) {
  Search* s = reinterpret_cast<Search*>(parameter);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (pid == s->pid && std::strcmp(cls, "#32770") == 0 && IsWindowVisible(window) &&
      GetDlgItem(window, s->marker) != nullptr) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

// The program's visible dialog that has a control with id marker.
HWND find(int marker) {
  Search s = {program.dwProcessId, marker, nullptr};
  EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND wait_for(int marker, DWORD limit_ms, const char* what) {
  for (DWORD waited = 0; waited < limit_ms; waited += POLL_MS) {
    HWND w = find(marker);
    if (w != nullptr) {
      Sleep(200);  // let it finish painting before it is looked at
      return w;
    }
    Sleep(POLL_MS);
  }
  fail("%s did not appear", what);
  return nullptr;
}

bool wait_gone(int marker, DWORD limit_ms) {
  for (DWORD waited = 0; waited < limit_ms; waited += POLL_MS) {
    if (find(marker) == nullptr) return true;
    Sleep(POLL_MS);
  }
  return false;
}

// Template ids and the markers that tell the dialogs apart (they share
// their caption).
constexpr int MAIN_MARKER = 1044;
constexpr int SETTINGS_MARKER = 1030;
constexpr int PROGRESS_MARKER = 1035;
const wchar_t* const TITLE = L"Downloader For ZP3K   Ver.1.00";

// 24-bit BMP of a window as the screen shows it; the test script turns it
// into PNG.
void screenshot(HWND window, const char* name) {
  if (window == nullptr || shots_dir.empty()) return;
  SetForegroundWindow(window);
  Sleep(300);
  RECT r;
  GetWindowRect(window, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  int stride = ((w * 3 + 3) / 4) * 4;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + stride * h;
  std::string path = shots_dir + "\\" + name + ".bmp";
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out != nullptr) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    std::fwrite(bits, stride * h, 1, out);
    std::fclose(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// ---------------------------------------------------------------- layouts

struct ControlSpec {
  int id;
  const char* cls;
  int x, y, w, h;
  const wchar_t* text;  // nullptr: not compared
  DWORD style_mask;     // style bits that must be as in style
  DWORD style;
};

constexpr DWORD TYPE = BS_TYPEMASK;

const ControlSpec kMainControls[] = {
    {IDOK, "Button", 193, 143, 59, 27, L"ダウンロード開始", TYPE, BS_PUSHBUTTON},
    {IDCANCEL, "Button", 193, 173, 59, 28, L"終了", TYPE, BS_DEFPUSHBUTTON},
    {1014, "Button", 7, 6, 105, 28, L"連続ダウンロード", TYPE, BS_GROUPBOX},
    {1037, "Button", 16, 19, 20, 10, L"1", TYPE | WS_GROUP, BS_AUTORADIOBUTTON | WS_GROUP},
    {1038, "Button", 49, 19, 20, 10, L"2", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1039, "Button", 84, 19, 20, 10, L"3", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1013, "Button", 7, 39, 255, 100, L"ダウンロード設定", TYPE, BS_GROUPBOX},
    {1015, "Static", 11, 52, 11, 10, L"No.", SS_TYPEMASK, SS_LEFT},
    {1016, "Static", 25, 52, 114, 8, L"ダウンロードファイルパス", SS_TYPEMASK, SS_LEFT},
    {1017, "Static", 170, 46, 96, 17, L"ダウンロード先頭アドレス（16進）\n(例:0008000(7桁入力))",
     SS_TYPEMASK, SS_LEFT},
    {1018, "Static", 14, 68, 8, 12, L"1:", SS_TYPEMASK, SS_LEFT},
    {1019, "Static", 14, 86, 8, 12, L"2:", SS_TYPEMASK, SS_LEFT},
    {1020, "Static", 14, 102, 8, 12, L"3:", SS_TYPEMASK, SS_LEFT},
    {1001, "Edit", 28, 65, 107, 14, L"", ES_AUTOHSCROLL, ES_AUTOHSCROLL},
    {1003, "Edit", 28, 83, 107, 14, L"", ES_AUTOHSCROLL, ES_AUTOHSCROLL},
    {1006, "Edit", 28, 101, 108, 14, L"", ES_AUTOHSCROLL, ES_AUTOHSCROLL},
    {1010, "Button", 139, 65, 26, 16, L"...", TYPE, BS_PUSHBUTTON},
    {1011, "Button", 139, 83, 26, 16, L"...", TYPE, BS_PUSHBUTTON},
    {1012, "Button", 139, 102, 26, 16, L"...", TYPE, BS_PUSHBUTTON},
    {1021, "Static", 166, 71, 13, 8, L"---", SS_TYPEMASK, SS_CENTER},
    {1022, "Static", 166, 88, 13, 8, L"---", SS_TYPEMASK, SS_CENTER},
    {1023, "Static", 166, 104, 13, 8, L"---", SS_TYPEMASK, SS_CENTER},
    {1002, "Edit", 182, 65, 55, 14, L"0008000", ES_AUTOHSCROLL, ES_AUTOHSCROLL},
    {1005, "Edit", 183, 84, 53, 14, L"0008000", ES_AUTOHSCROLL, ES_AUTOHSCROLL},
    {1007, "Edit", 183, 102, 53, 14, L"0008000", ES_AUTOHSCROLL, ES_AUTOHSCROLL},
    {1044, "Button", 18, 124, 125, 10, L"ダウンロード直後に運転を開始する", TYPE, BS_AUTOCHECKBOX},
    {1024, "Button", 7, 143, 171, 52, L"通信設定", TYPE, BS_GROUPBOX},
    {1025, "Static", 23, 159, 39, 9, L"COMポート:", SS_TYPEMASK, SS_LEFT},
    {1026, "Static", 23, 173, 39, 9, L"通信速度:", SS_TYPEMASK, SS_LEFT},
    {1027, "Static", 69, 159, 33, 9, L"COM1", SS_TYPEMASK, SS_LEFT},
    {1028, "Static", 69, 175, 37, 9, L"115200bps", SS_TYPEMASK, SS_LEFT},
    {1009, "Button", 121, 159, 49, 25, L"設定変更", TYPE, BS_PUSHBUTTON},
};

const ControlSpec kSettingsControls[] = {
    {IDOK, "Button", 7, 88, 50, 22, L"OK", TYPE, BS_DEFPUSHBUTTON},
    {IDCANCEL, "Button", 77, 88, 50, 22, L"キャンセル", TYPE, BS_PUSHBUTTON},
    {1014, "Button", 8, 7, 52, 76, L"ポート", TYPE, BS_GROUPBOX},
    {1017, "Button", 70, 7, 59, 77, L"通信速度(bps)", TYPE, BS_GROUPBOX},
    {1030, "Button", 15, 20, 35, 10, L"COM1", TYPE | WS_GROUP, BS_AUTORADIOBUTTON | WS_GROUP},
    {1031, "Button", 15, 35, 35, 10, L"COM2", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1032, "Button", 15, 49, 35, 10, L"COM3", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1033, "Button", 15, 63, 35, 10, L"COM4", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1034, "Button", 75, 19, 32, 10, L"9600", TYPE | WS_GROUP, BS_AUTORADIOBUTTON | WS_GROUP},
    {1035, "Button", 75, 31, 36, 10, L"19200", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1036, "Button", 75, 43, 36, 10, L"38400", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1037, "Button", 75, 56, 36, 10, L"57600", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
    {1038, "Button", 75, 68, 40, 10, L"115200", TYPE | WS_GROUP, BS_AUTORADIOBUTTON},
};

const ControlSpec kProgressControls[] = {
    {1014, "Static", 7, 15, 179, 28, nullptr, SS_TYPEMASK, SS_CENTER},
    {1017, "Static", 7, 48, 51, 12, nullptr, SS_TYPEMASK, SS_LEFT},
    {1018, "Static", 134, 48, 52, 11, nullptr, SS_TYPEMASK, SS_LEFT},
    // Wine's progress bar replaces its border styles by those of its theme
    // when it is made, so they are not compared.
    {1035, "msctls_progress32", 7, 61, 179, 10, nullptr, 0, 0},
    {IDOK, "Button", 71, 74, 50, 22, L"OK", TYPE, BS_DEFPUSHBUTTON},
    {IDCANCEL, "Button", 136, 74, 50, 22, L"次番号\n転送中止", TYPE | BS_MULTILINE,
     BS_PUSHBUTTON | BS_MULTILINE},
};

// Dialog units become pixels through the dialog's base units, which are
// found from its client size (MulDiv(width, x base, 4), MulDiv(height, y
// base, 8)); every control must then sit exactly where its template puts it.
void check_layout(HWND dialog, const char* what, int width, int height, const ControlSpec* specs,
                  int count, DWORD dialog_style) {
  RECT client;
  GetClientRect(dialog, &client);
  int bx = 0, by = 0;
  for (int b = 1; b < 64 && bx == 0; ++b)
    if (MulDiv(width, b, 4) == client.right) bx = b;
  for (int b = 1; b < 64 && by == 0; ++b)
    if (MulDiv(height, b, 8) == client.bottom) by = b;
  if (bx == 0 || by == 0) {
    fail("%s: client %ldx%ld px is not %dx%d dialog units", what, client.right, client.bottom,
         width, height);
    return;
  }
  note("%s: %dx%d dialog units, base units %d,%d", what, width, height, bx, by);
  std::string title = text_of(dialog);
  if (title != cp932(TITLE)) fail("%s: caption \"%s\"", what, printable(title).c_str());
  DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
  if ((style & dialog_style) != dialog_style)
    fail("%s: dialog style %08lX lacks %08lX", what, style, dialog_style);

  int children = 0;
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
    ++children;
  if (children != count) fail("%s: %d controls, expected %d", what, children, count);

  for (int i = 0; i < count; ++i) {
    const ControlSpec& s = specs[i];
    HWND c = GetDlgItem(dialog, s.id);
    if (c == nullptr) {
      fail("%s: control %d missing", what, s.id);
      continue;
    }
    char cls[64] = {};
    GetClassNameA(c, cls, sizeof cls);
    if (lstrcmpiA(cls, s.cls) != 0) fail("%s: control %d class %s, expected %s", what, s.id, cls, s.cls);
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    const long want[4] = {MulDiv(s.x, bx, 4), MulDiv(s.y, by, 8), MulDiv(s.w, bx, 4),
                          MulDiv(s.h, by, 8)};
    const long got[4] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
    if (std::memcmp(want, got, sizeof want) != 0)
      fail("%s: control %d at %ld,%ld %ldx%ld px, expected %ld,%ld %ldx%ld (%d,%d,%d,%d DLU)", what,
           s.id, got[0], got[1], got[2], got[3], want[0], want[1], want[2], want[3], s.x, s.y, s.w,
           s.h);
    DWORD cs = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
    if ((cs & s.style_mask) != s.style)
      fail("%s: control %d style %08lX, expected %08lX under mask %08lX", what, s.id, cs, s.style,
           s.style_mask);
    if (s.text != nullptr) expect_text(dialog, s.id, s.text, what);
  }
}

// ---------------------------------------------------------------- program

bool start_program(const std::string& exe, const std::string& folder) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string command = "\"" + exe + "\"";
  if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &program)) {
    fail("cannot start %s (error %lu)", exe.c_str(), GetLastError());
    return false;
  }
  return true;
}

// Ends the program through its exit button and checks its exit code.
void end_program(HWND main) {
  if (main != nullptr) post_click(main, IDCANCEL);
  if (WaitForSingleObject(program.hProcess, 10000) != WAIT_OBJECT_0) {
    fail("imgload.exe did not end after the exit button");
    TerminateProcess(program.hProcess, 1);
    return;
  }
  DWORD code = 1;
  GetExitCodeProcess(program.hProcess, &code);
  if (code != 0) fail("exit code %lu, expected 0", code);
}

// Presses Start and expects the warning box with text message + "(No.row)".
void expect_warning(HWND main, const wchar_t* message, int row, const char* what,
                    const char* shot = nullptr) {
  post_click(main, IDOK);
  HWND box = wait_for(MESSAGE_BOX_TEXT_ID, SHORT_WAIT_MS, what);
  if (box == nullptr) return;
  std::string text = item_text(box, MESSAGE_BOX_TEXT_ID);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "(No.%d)", row);
  std::string want = cp932(message) + suffix;
  if (text != want)
    fail("%s: warning \"%s\", expected \"%s\"", what, printable(text).c_str(), printable(want).c_str());
  if (text_of(box) != cp932(TITLE)) fail("%s: warning caption \"%s\"", what, printable(text_of(box)).c_str());
  if (find(PROGRESS_MARKER) != nullptr) fail("%s: a download started", what);
  if (shot != nullptr) screenshot(box, shot);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  if (!wait_gone(MESSAGE_BOX_TEXT_ID, SHORT_WAIT_MS)) fail("%s: warning box stays", what);
}

// What a run showed, sampled while it went on.
struct RunSeen {
  std::vector<std::string> statuses;
  std::vector<std::string> files;
  int blocks_seen = 0;
  int max_position = 0;
  bool ok_enabled_early = false;
  bool cancel_enabled = false;
  std::string final_status;
  int final_position = 0;
  int final_range = 0;
};

void remember(std::vector<std::string>& list, const std::string& s) {
  if (!s.empty() && (list.empty() || list.back() != s)) list.push_back(s);
}

// Follows an open progress dialog until OK is enabled; optional action when
// the file label first shows "No.1". Leaves the dialog open.
RunSeen follow_run(HWND progress, const char* shot_during, bool stop_in_file1) {
  RunSeen seen;
  bool shot_taken = shot_during == nullptr;
  bool stopped = false;
  DWORD waited = 0;
  std::string last_block;
  seen.cancel_enabled = enabled(progress, IDCANCEL);
  for (; waited < RUN_WAIT_MS; waited += 20) {
    // Order matters: OK is read first, so a status seen with OK disabled was
    // shown while the run still went on.
    bool ok = enabled(progress, IDOK);
    std::string status = item_text(progress, 1014);
    std::string file = item_text(progress, 1017);
    std::string block = item_text(progress, 1018);
    int position = static_cast<int>(SendDlgItemMessageA(progress, 1035, PBM_GETPOS, 0, 0));
    if (ok) break;
    remember(seen.statuses, status);
    remember(seen.files, file);
    if (block != last_block && !block.empty()) {
      ++seen.blocks_seen;
      last_block = block;
    }
    if (position > seen.max_position) seen.max_position = position;
    if (!shot_taken && !block.empty()) {
      screenshot(progress, shot_during);
      shot_taken = true;
    }
    if (stop_in_file1 && !stopped && file == "No.1") {
      post_click(progress, IDCANCEL);
      stopped = true;
    }
    Sleep(20);
  }
  if (waited >= RUN_WAIT_MS) fail("the run did not end within %lu ms", RUN_WAIT_MS);
  Sleep(100);
  seen.final_status = item_text(progress, 1014);
  seen.final_position = static_cast<int>(SendDlgItemMessageA(progress, 1035, PBM_GETPOS, 0, 0));
  seen.final_range = static_cast<int>(SendDlgItemMessageA(progress, 1035, PBM_GETRANGE, FALSE, 0));
  for (const std::string& s : seen.statuses) note("  status while running: %s", printable(s).c_str());
  for (const std::string& s : seen.files) note("  file label: %s", s.c_str());
  note("  block labels seen: %d, final status \"%s\", bar %d of %d", seen.blocks_seen,
       printable(seen.final_status).c_str(), seen.final_position, seen.final_range);
  return seen;
}

void close_progress(HWND progress) {
  post_click(progress, IDOK);
  if (!wait_gone(PROGRESS_MARKER, SHORT_WAIT_MS)) fail("the progress dialog did not close with OK");
}

// Starts a download from the main dialog and follows it to its end.
RunSeen download(HWND main, const char* what, const char* shot_during, const char* shot_end,
                 bool stop_in_file1, bool check_layout_once) {
  post_click(main, IDOK);
  HWND progress = wait_for(PROGRESS_MARKER, SHORT_WAIT_MS, what);
  RunSeen seen;
  if (progress == nullptr) return seen;
  if (check_layout_once)
    check_layout(progress, "progress dialog", 193, 103, kProgressControls,
                 sizeof kProgressControls / sizeof kProgressControls[0],
                 WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER);
  if (IsWindowEnabled(main)) fail("%s: the main dialog is usable during the run", what);
  seen = follow_run(progress, shot_during, stop_in_file1);
  if (!enabled(progress, IDOK)) fail("%s: OK not enabled at the end", what);
  if (shot_end != nullptr) screenshot(progress, shot_end);
  // OK closes only at the end; the dialog stays until then.
  if (find(PROGRESS_MARKER) != progress) fail("%s: the progress dialog closed by itself", what);
  close_progress(progress);
  return seen;
}

void expect_success(const RunSeen& seen, int files, const char* what) {
  if (seen.final_status != cp932(L"ダウンロード正常終了"))
    fail("%s: final status \"%s\"", what, printable(seen.final_status).c_str());
  bool notice = false;
  for (const std::string& s : seen.statuses)
    if (s == cp932(L"データ転送中\n電源を切らないでください!")) notice = true;
  if (!notice) fail("%s: the transfer notice was not seen while running", what);
  for (int i = 1; i <= files; ++i) {
    std::string label = "No." + std::to_string(i);
    bool found = false;
    for (const std::string& f : seen.files) found = found || f == label;
    if (!found) fail("%s: file label %s not seen", what, label.c_str());
  }
  if (seen.blocks_seen == 0) fail("%s: no block label seen", what);
  if (seen.max_position == 0) fail("%s: the progress bar never moved", what);
}

// Sets the rows of the main dialog: count, paths, addresses, run flag.
void fill_main(HWND main, int count, const std::vector<std::string>& paths,
               const std::vector<std::string>& addresses, bool run_after) {
  static const int count_ids[3] = {1037, 1038, 1039};
  static const int path_ids[3] = {1001, 1003, 1006};
  static const int address_ids[3] = {1002, 1005, 1007};
  click(main, count_ids[count - 1]);
  for (size_t i = 0; i < paths.size(); ++i) set_text(main, path_ids[i], paths[i]);
  for (size_t i = 0; i < addresses.size(); ++i) set_text(main, address_ids[i], addresses[i]);
  if (checked(main, 1044) != run_after) click(main, 1044);
}

// Opens the settings dialog, picks a port and speed button and ends it with
// OK, Cancel or the close box.
HWND open_settings(HWND main) {
  post_click(main, 1009);
  return wait_for(SETTINGS_MARKER, SHORT_WAIT_MS, "settings dialog");
}

void choose_settings(HWND main, int port_id, int speed_id) {
  HWND s = open_settings(main);
  if (s == nullptr) return;
  click(s, port_id);
  click(s, speed_id);
  post_click(s, IDOK);
  if (!wait_gone(SETTINGS_MARKER, SHORT_WAIT_MS)) fail("settings dialog stays after OK");
}

// ---------------------------------------------------------------- scenarios

constexpr int OPEN_FILE_NAME_ID = 0x047C;  // cmb13, the file name of the open-file dialog
constexpr int OPEN_FILE_TYPE_ID = 0x0470;  // cmb1, the file type list

// The browse button of row 1: the open-file dialog with its title and
// filter; a chosen file lands in the path edit, selected; Cancel keeps it.
void check_browse(HWND main, const std::string& folder) {
  set_text(main, 1001, "keep.bin");
  post_click(main, 1010);
  HWND open = wait_for(OPEN_FILE_NAME_ID, SHORT_WAIT_MS, "open-file dialog");
  if (open == nullptr) return;
  if (text_of(open) != cp932(L"ファイルを開く"))
    fail("open-file dialog caption \"%s\"", printable(text_of(open)).c_str());
  HWND types = GetDlgItem(open, OPEN_FILE_TYPE_ID);
  // The list is a Unicode window; across processes only the W form of
  // CB_GETLBTEXT comes back whole.
  const wchar_t* const want_types[] = {L"Bin Files(*.bin)", L"All Files(*.*)"};
  LRESULT count = SendMessageW(types, CB_GETCOUNT, 0, 0);
  if (count != 2) fail("open-file dialog: %ld file types, expected 2", static_cast<long>(count));
  for (int i = 0; i < 2 && i < count; ++i) {
    wchar_t entry[128] = {};
    SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
    if (lstrcmpW(entry, want_types[i]) != 0) fail("file type %d is not %ls", i, want_types[i]);
  }
  if (SendMessageA(types, CB_GETCURSEL, 0, 0) != 0) fail("the first file type is not chosen");
  post_click(open, IDCANCEL);
  if (!wait_gone(OPEN_FILE_NAME_ID, SHORT_WAIT_MS)) fail("open-file dialog stays after Cancel");
  if (item_text(main, 1001) != "keep.bin") fail("a cancelled browse changed the path");

  post_click(main, 1010);
  open = wait_for(OPEN_FILE_NAME_ID, SHORT_WAIT_MS, "open-file dialog");
  if (open == nullptr) return;
  const std::string chosen = folder + "\\ok.bin";
  set_text(open, OPEN_FILE_NAME_ID, chosen);
  post_click(open, IDOK);
  if (!wait_gone(OPEN_FILE_NAME_ID, SHORT_WAIT_MS)) fail("open-file dialog stays after OK");
  Sleep(200);
  std::string path = item_text(main, 1001);
  if (lstrcmpiA(path.c_str(), chosen.c_str()) != 0)
    fail("browse put \"%s\" into row 1, expected \"%s\"", path.c_str(), chosen.c_str());
  LRESULT sel = SendDlgItemMessageA(main, 1001, EM_GETSEL, 0, 0);
  if (LOWORD(sel) != 0 || HIWORD(sel) != path.size())
    fail("the browsed path is not selected (%u..%u of %u)", LOWORD(sel), HIWORD(sel),
         static_cast<unsigned>(path.size()));
}

// Start state, the layouts of the main and settings dialogs, the count
// buttons and the settings dialog's OK, Cancel and close box.
void scenario_dialogs(HWND main, const std::string& folder) {
  check_layout(main, "main dialog", 273, 211, kMainControls,
               sizeof kMainControls / sizeof kMainControls[0],
               WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER);
  if (!checked(main, 1037) || checked(main, 1038) || checked(main, 1039))
    fail("start: count is not 1");
  for (int id : {1003, 1011, 1005, 1006, 1012, 1007})
    if (enabled(main, id)) fail("start: control %d of rows 2-3 enabled", id);
  for (int id : {1001, 1010, 1002})
    if (!enabled(main, id)) fail("start: control %d of row 1 disabled", id);
  if (!checked(main, 1044)) fail("start: 1044 not checked");
  screenshot(main, "main-start");

  click(main, 1038);
  for (int id : {1003, 1011, 1005})
    if (!enabled(main, id)) fail("count 2: control %d disabled", id);
  for (int id : {1006, 1012, 1007})
    if (enabled(main, id)) fail("count 2: control %d enabled", id);
  click(main, 1039);
  for (int id : {1003, 1011, 1005, 1006, 1012, 1007})
    if (!enabled(main, id)) fail("count 3: control %d disabled", id);
  if (checked(main, 1037) || checked(main, 1038) || !checked(main, 1039))
    fail("count 3: radio buttons not exclusive");
  set_text(main, 1001, "C:\\images\\first.bin");
  set_text(main, 1003, "C:\\images\\second.bin");
  set_text(main, 1006, "C:\\images\\third.bin");
  screenshot(main, "main-three-rows");
  click(main, 1037);
  for (int id : {1003, 1011, 1005, 1006, 1012, 1007})
    if (enabled(main, id)) fail("count 1 again: control %d enabled", id);
  if (item_text(main, 1003) != "C:\\images\\second.bin") fail("disabled row lost its text");
  check_browse(main, folder);

  HWND s = open_settings(main);
  if (s == nullptr) return;
  check_layout(s, "settings dialog", 139, 119, kSettingsControls,
               sizeof kSettingsControls / sizeof kSettingsControls[0],
               WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
  if ((GetWindowLongA(s, GWL_STYLE) & DS_CENTER) != 0) fail("settings dialog is centred");
  for (int id = 1030; id <= 1038; ++id) {
    bool want = id == 1030 || id == 1038;
    if (checked(s, id) != want) fail("settings first opening: %d check %d", id, !want);
  }
  click(s, 1032);
  if (!checked(s, 1038)) fail("a port click cleared the speed group");
  click(s, 1034);
  if (!checked(s, 1032)) fail("a speed click cleared the port group");
  for (int id = 1030; id <= 1038; ++id) {
    bool want = id == 1032 || id == 1034;
    if (checked(s, id) != want) fail("after COM3, 9600: %d check %d", id, !want);
  }
  screenshot(s, "settings");
  post_click(s, IDOK);
  if (!wait_gone(SETTINGS_MARKER, SHORT_WAIT_MS)) fail("settings stays after OK");
  expect_text(main, 1027, L"COM3", "after OK");
  expect_text(main, 1028, L"9600bps", "after OK");

  // Cancel, then the close box: nothing changes.
  s = open_settings(main);
  if (s == nullptr) return;
  if (!checked(s, 1032) || !checked(s, 1034)) fail("reopening does not show COM3 and 9600");
  click(s, 1031);
  click(s, 1037);
  post_click(s, IDCANCEL);
  if (!wait_gone(SETTINGS_MARKER, SHORT_WAIT_MS)) fail("settings stays after Cancel");
  expect_text(main, 1027, L"COM3", "after Cancel");
  expect_text(main, 1028, L"9600bps", "after Cancel");
  s = open_settings(main);
  if (s == nullptr) return;
  if (!checked(s, 1032) || checked(s, 1031) || !checked(s, 1034) || checked(s, 1037))
    fail("reopening after Cancel does not show the stored choice");
  click(s, 1033);
  PostMessageA(s, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (!wait_gone(SETTINGS_MARKER, SHORT_WAIT_MS)) fail("settings stays after the close box");
  expect_text(main, 1027, L"COM3", "after the close box");
  s = open_settings(main);
  if (s == nullptr) return;
  if (!checked(s, 1032) || checked(s, 1033)) fail("the close box changed the port");
  // OK without touching anything rewrites the same labels.
  post_click(s, IDOK);
  wait_gone(SETTINGS_MARKER, SHORT_WAIT_MS);
  expect_text(main, 1027, L"COM3", "after an unchanged OK");
  expect_text(main, 1028, L"9600bps", "after an unchanged OK");
}

const wchar_t* const MSG_PATH = L"ダウンロードファイルパスが不正です。";
const wchar_t* const MSG_ADDRESS = L"ダウンロード開始アドレスが不正な値です。";
const wchar_t* const MSG_OPEN = L"ファイルオープンエラー";
const wchar_t* const MSG_SIZE = L"ダウンロードファイルのサイズを2kバイト単位にしてください。";

// folder holds ok.bin (2048 bytes), four.bin (4096), zero.bin (0),
// odd.bin (3000) and noextension (2048); COM1 leads nowhere, so an accepted
// job ends with the port error.
void scenario_validation(HWND main, const std::string& folder) {
  const std::string ok = folder + "\\ok.bin";
  fill_main(main, 1, {folder + "\\noextension"}, {"0008000"}, true);
  expect_warning(main, MSG_PATH, 1, "path without a dot", "warning");
  fill_main(main, 1, {""}, {}, true);
  expect_warning(main, MSG_PATH, 1, "empty path");
  fill_main(main, 1, {folder + "\\missing.bin"}, {}, true);
  expect_warning(main, MSG_OPEN, 1, "missing file");
  fill_main(main, 1, {folder + "\\zero.bin"}, {}, true);
  expect_warning(main, MSG_SIZE, 1, "0-byte file");
  fill_main(main, 1, {folder + "\\odd.bin"}, {}, true);
  expect_warning(main, MSG_SIZE, 1, "3000-byte file");
  // A bad path with a bad address: the path is reported (checks in order).
  fill_main(main, 1, {""}, {"zzz"}, true);
  expect_warning(main, MSG_PATH, 1, "path before address");

  for (const char* address : {"0008001", "0020000", "0108000", "00008000", "8000", "0000000_a",
                              "000800G", "", "0000000", "01F8000", "0200000", "0007800"}) {
    fill_main(main, 1, {ok}, {address}, true);
    std::string what = std::string("address \"") + address + "\"";
    expect_warning(main, MSG_ADDRESS, 1, what.c_str());
  }
  // Rows 2 and 3 are checked only when counted, and report their number.
  fill_main(main, 2, {ok, folder + "\\odd.bin"}, {"0008000", "0008000"}, true);
  expect_warning(main, MSG_SIZE, 2, "row 2 of 2");
  fill_main(main, 3, {ok, ok, ok}, {"0008000", "001f800", "0108000"}, true);
  expect_warning(main, MSG_ADDRESS, 3, "row 3 of 3");

  // Accepted jobs open the progress dialog; with no port behind COM1 they
  // end with the port error and OK closes the dialog.
  struct Accepted {
    int count;
    std::vector<std::string> paths;
    std::vector<std::string> addresses;
    const char* what;
  };
  const Accepted accepted[] = {
      {1, {ok, "", "nonsense"}, {"0000000_A", "zzz", ""}, "0000000_A with rows 2-3 ignored"},
      {2, {ok, "four.bin", ""}, {"001F800", "0100000", "bad"}, "relative path, 0100000, row 3 ignored"},
      {3, {ok, ok, ok}, {"001f800", "01F0000", "0008000"}, "three rows"},
  };
  for (const Accepted& a : accepted) {
    fill_main(main, a.count, a.paths, a.addresses, true);
    post_click(main, IDOK);
    HWND progress = wait_for(PROGRESS_MARKER, SHORT_WAIT_MS, a.what);
    if (progress == nullptr) {
      HWND box = find(MESSAGE_BOX_TEXT_ID);
      if (box != nullptr) {
        fail("%s: refused with \"%s\"", a.what, printable(item_text(box, MESSAGE_BOX_TEXT_ID)).c_str());
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        wait_gone(MESSAGE_BOX_TEXT_ID, SHORT_WAIT_MS);
      }
      continue;
    }
    RunSeen seen = follow_run(progress, nullptr, false);
    if (seen.final_status != cp932(L"通信エラー\n(COMポートオープンエラー)"))
      fail("%s: final status \"%s\"", a.what, printable(seen.final_status).c_str());
    close_progress(progress);
  }
}

// Downloads through the dialogs. args: folder of the images.
void scenario_download(HWND main, const std::string& folder, const std::string& kind) {
  const std::string a = folder + "\\a.bin", b = folder + "\\b.bin", c = folder + "\\c.bin";
  if (kind == "one") {
    // One file, run after download on; the stop button stays disabled, and
    // neither the close box nor OK can end the run.
    fill_main(main, 1, {a}, {"0008000"}, true);
    post_click(main, IDOK);
    HWND progress = wait_for(PROGRESS_MARKER, SHORT_WAIT_MS, "progress dialog");
    if (progress == nullptr) return;
    check_layout(progress, "progress dialog", 193, 103, kProgressControls,
                 sizeof kProgressControls / sizeof kProgressControls[0],
                 WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER);
    if (enabled(progress, IDCANCEL)) fail("one file: the stop button is enabled");
    if (enabled(progress, IDOK)) fail("one file: OK enabled at the start");
    PostMessageA(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
    post_click(progress, IDOK);  // refused: the run goes on
    RunSeen seen = follow_run(progress, "progress-running", false);
    if (find(PROGRESS_MARKER) != progress) fail("one file: the dialog closed during the run");
    expect_success(seen, 1, "one file");
    if (seen.final_range != seen.final_position || seen.final_range < 2)
      fail("one file: the bar ends at %d of %d", seen.final_position, seen.final_range);
    if (enabled(progress, IDCANCEL)) fail("one file: the stop button enabled at the end");
    screenshot(progress, "progress-end");
    close_progress(progress);
    // A second download from the same main dialog, on the same worker, now
    // without the run request.
    fill_main(main, 1, {a}, {"0008000"}, false);
    RunSeen again = download(main, "second download", nullptr, nullptr, false, false);
    expect_success(again, 1, "second download");
  } else if (kind == "three") {
    fill_main(main, 3, {a, b, c}, {"0008000", "001F800", "0000000_A"}, true);
    RunSeen seen = download(main, "three files", nullptr, nullptr, false, false);
    expect_success(seen, 3, "three files");
    if (!seen.cancel_enabled) fail("three files: the stop button is disabled");
  } else if (kind == "stop") {
    fill_main(main, 3, {a, b, c}, {"0008000", "0008000", "0008000"}, true);
    RunSeen seen = download(main, "stop in file 1", nullptr, nullptr, true, false);
    expect_success(seen, 1, "stop in file 1");
    for (const std::string& f : seen.files)
      if (f != "No.1") fail("stop in file 1: file label %s seen", f.c_str());
  } else if (kind == "speed") {
    // COM3 at 9600 bit/s, chosen in the settings dialog; the script links
    // COM3 to the simulator and checks the speed it saw.
    choose_settings(main, 1032, 1034);
    expect_text(main, 1027, L"COM3", "settings for the run");
    expect_text(main, 1028, L"9600bps", "settings for the run");
    fill_main(main, 1, {a}, {"0008000"}, false);
    RunSeen seen = download(main, "COM3 at 9600", nullptr, nullptr, false, false);
    expect_success(seen, 1, "COM3 at 9600");
  }
}

// A run that ends with a failure text; args: expected text kind.
void scenario_failure(HWND main, const std::string& folder, const std::string& kind) {
  const std::string a = folder + "\\a.bin";
  const wchar_t* expected = L"";
  std::string address = "0008000";
  if (kind == "timeout") {
    expected = L"通信エラー\n(タイムアウトエラー)";
  } else if (kind == "missing") {
    expected = L"通信エラー\n(COMポートオープンエラー)";
  } else if (kind == "noflash") {
    expected = L"外部FROM未搭載機種のため、\n外部FROMにダウンロードできません。\nダウンロード先頭アドレスを確認してください。(No.1)";
    address = "0100000";
  }
  fill_main(main, 1, {a}, {address}, false);
  RunSeen seen = download(main, kind.c_str(), nullptr, nullptr, false, false);
  if (seen.final_status != cp932(expected))
    fail("%s: final status \"%s\", expected \"%s\"", kind.c_str(), printable(seen.final_status).c_str(),
         printable(cp932(expected)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("usage: %s SCENARIO IMGLOAD_EXE FOLDER [SHOTS_FOLDER] [KIND]\n", argv[0]);
    return 2;
  }
  const std::string scenario = argv[1];
  const std::string folder = argv[3];
  if (argc > 4) shots_dir = argv[4];
  const std::string kind = argc > 5 ? argv[5] : "";
  if (!start_program(argv[2], folder)) return 1;
  HWND main = wait_for(MAIN_MARKER, 30000, "main dialog");
  if (main != nullptr) {
    if (scenario == "dialogs") {
      scenario_dialogs(main, folder);
    } else if (scenario == "validation") {
      scenario_validation(main, folder);
    } else if (scenario == "download") {
      scenario_download(main, folder, kind);
    } else if (scenario == "failure") {
      scenario_failure(main, folder, kind);
    } else {
      fail("unknown scenario %s", scenario.c_str());
    }
  }
  end_program(main);
  note("%s %s: %d failure(s)", scenario.c_str(), kind.c_str(), failures);
  return failures == 0 ? 0 : 1;
}
