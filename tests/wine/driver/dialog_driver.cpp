// Test driver for the Windows programs under Wine: reads a script of commands
// (one per line) and drives another process's dialogs through window messages,
// printing what it sees as plain lines and "FAIL ..." for every unmet expectation.
//
// Usage: dialog_driver.exe SCRIPT   (or the script on stdin)
// Script lines are UTF-8; "#" starts a comment line. Arguments are separated by
// blanks; "..." quotes one argument with the escapes \n \r \t \\ \" and \xHH
// (one UTF-16 unit); any other backslash stays as written. ${NAME} is then
// replaced by the environment variable NAME, whose value is not unescaped.
// Windows are bound to names by the wait_* commands and addressed by them.
//
// Commands (ID is a control id, IDOK/IDCANCEL/IDYES/IDNO, or 0 for the window
// itself; waits take an optional timeout in ms, 20000 by default):
//   start EXE [ARGS]             run EXE with the command line "EXE" ARGS, exactly
//   start_console EXE [ARGS]     the same for a console program sharing the driver's
//                                console (made when there is none); its standard output
//                                and error go to out.txt and err.txt in the current folder
//   interrupt_when PATTERN ctrl_c|ctrl_break [ms]  once a file matching PATTERN exists
//                                and is empty, the program's main thread is held, the
//                                file checked again and the console event generated
//                                (Wine 8 generates Ctrl-C only: Ctrl-Break fails, error 6)
//   wait_dialog NAME TITLE [ms] [MARKER]  bind NAME to the visible dialog with that
//                                title (and a control MARKER, where dialogs share it)
//   wait_msgbox NAME TITLE [ms]  the same for a message box
//   wait_gone NAME [ms]          until the window has closed
//   wait_exit [ms] / expect_exit CODE / expect_running
//   windows / list NAME / msgbox NAME / template EXE ID [EXPECTED_FILE]
//   click NAME ID                BM_CLICK, then waits until the click was handled
//                                (or reached the modal loop of what it opened)
//   set_text NAME ID TEXT [ID TEXT]... / close NAME / send_command NAME ID CODE
//   choose_file NAME PATH        type PATH into an open-file dialog and confirm
//   warns NAME TEXT              click NAME's IDOK; a warning box with NAME's title,
//                                TEXT and one OK button must appear; it is closed
//   expect_text NAME ID TEXT     UTF-16 text of WM_GETTEXT against TEXT
//   expect_control NAME ID CLASS X Y W H [TEXT|* [MASK VALUE]]  rectangle in dialog
//                                units, then text and (style & MASK) == VALUE
//   expect_client_size NAME W H / expect_order NAME ID... / expect_focus NAME ID
//   expect_style NAME ID MASK VALUE / expect_selection NAME ID START END|all
//   expect_enabled|expect_visible|expect_checked|expect_position NAME ID VALUE [ID VALUE]...
//                                (expect_position reads a progress bar, PBM_GETPOS;
//                                "full" is the end of its range)
//   expect_items NAME ID TEXT... the entries of a combo box, in order
//   follow_run NAME [STOP_LABEL] [SHOT.png]  samples a progress dialog until its OK
//                                is enabled; clicks IDCANCEL once the file label
//                                reads STOP_LABEL ("-": never); a screenshot once a
//                                block label shows
//   expect_seen status|file|block TEXT|any [0]  whether the last run showed it
//   expect_msgbox NAME TEXT BUTTON_IDS(1,2) ICON(warning|error|information|question|none)
//   expect_no_msgbox TITLE MS    no such message box appears within MS
//   expect_file PATH same OTHER | size N | missing | hex OFFSET HEXBYTES
//                                (missing: PATH may hold wildcards)
//   dialog_font FACE POINTS      font of the dialogs measured (MS UI Gothic 10)
//   shot FILE.png / sync NAME / sleep MS / echo TEXT
//   chdir PATH                   the folder the next started program runs in
//   hold_file PATH               keeps PATH open for reading, shared with other
//                                readers only, until the script ends
//   expect_acp CP                the ANSI code page this Wine session has
// Unmet expectations print FAIL and the script goes on; a failed wait stops it.
// The exit code is 0 when nothing failed. A program started here is ended
// when the script ends.
//
// Texts are read through the wide functions and compared in UTF-16 with the
// script's UTF-8 text, so a check holds whatever the ANSI code page is.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD DEFAULT_TIMEOUT = 20000;  // ms, for every wait without its own
constexpr DWORD POLL_INTERVAL = 50;       // ms between looks while waiting
constexpr DWORD SEND_TIMEOUT = 10000;     // ms for one cross-process message
constexpr DWORD SURFACE_FLUSH_DELAY = 300;  // ms for Wine to put painted windows on X
constexpr int MSGBOX_TEXT_ID = 0xFFFF;    // the message box's text control
constexpr int WINE_MSGBOX_ICON_ID = 0x0440;
constexpr int WINDOWS_MSGBOX_ICON_ID = 0x0014;
constexpr int FILE_NAME_COMBO_ID = 0x047C;  // cmb13 of the open-file dialog
constexpr int FILE_NAME_EDIT_ID = 0x0480;   // edt1 of the open-file dialog

using Args = std::vector<std::wstring>;

struct State {
  std::map<std::wstring, HWND> windows;
  PROCESS_INFORMATION process{};
  bool started = false;
  DWORD exit_code = STILL_ACTIVE;
  int failures = 0;
  int line_number = 0;
  std::wstring font_name = L"MS UI Gothic";
  int font_points = 10;
  int base_x = 0, base_y = 0;  // pixels per 4 horizontal / 8 vertical dialog units
  std::wstring home;           // the folder the driver began in, where shots are asked for
} state;

// ---- text helpers ---------------------------------------------------------

std::string to_utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring from_utf8(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
  return w;
}

// Printable form of a text: UTF-8, with line breaks and quotes escaped.
std::string show(const std::wstring& text) {
  std::string out;
  for (char c : to_utf8(text)) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '"') out += "\\\"";
    else out += c;
  }
  return out;
}

std::string hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X", c);
    out += b;
  }
  return out;
}

void print(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vprintf(fmt, ap);
  va_end(ap);
  std::fflush(stdout);
}

void fail(const std::string& what) {
  ++state.failures;
  print("FAIL line %d: %s\n", state.line_number, what.c_str());
}

// ---- script parsing -------------------------------------------------------

std::wstring expand_variables(const std::wstring& line) {
  std::wstring out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == L'$' && i + 1 < line.size() && line[i + 1] == L'{') {
      size_t end = line.find(L'}', i);
      if (end != std::wstring::npos) {
        std::wstring name = line.substr(i + 2, end - i - 2);
        wchar_t value[4096];
        DWORD n = GetEnvironmentVariableW(name.c_str(), value, 4096);
        if (n > 0 && n < 4096) out.append(value, n);
        i = end;
        continue;
      }
    }
    out += line[i];
  }
  return out;
}

Args split(const std::wstring& line) {
  Args args;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size()) break;
    std::wstring arg;
    if (line[i] == L'"') {
      for (++i; i < line.size() && line[i] != L'"'; ++i) {
        if (line[i] == L'\\' && i + 1 < line.size()) {
          wchar_t c = line[++i];
          switch (c) {
            case L'n': arg += L'\n'; break;
            case L'r': arg += L'\r'; break;
            case L't': arg += L'\t'; break;
            case L'\\': arg += L'\\'; break;
            case L'"': arg += L'"'; break;
            case L'x': {
              std::wstring digits = line.substr(i + 1, 4);
              size_t used = 0;
              unsigned long v = std::wcstoul(digits.c_str(), nullptr, 16);
              while (used < digits.size() && iswxdigit(digits[used])) ++used;
              arg += (wchar_t)v;
              i += used;
              break;
            }
            default: arg += L'\\'; arg += c; break;  // not an escape: kept as written
          }
        } else {
          arg += line[i];
        }
      }
      ++i;  // closing quote
    } else {
      while (i < line.size() && line[i] != L' ' && line[i] != L'\t') arg += line[i++];
    }
    args.push_back(arg);
  }
  return args;
}

int to_int(const std::wstring& s) {
  if (s == L"IDOK") return IDOK;
  if (s == L"IDCANCEL") return IDCANCEL;
  if (s == L"IDYES") return IDYES;
  if (s == L"IDNO") return IDNO;
  return (int)std::wcstol(s.c_str(), nullptr, 0);
}

// ---- windows --------------------------------------------------------------

std::wstring class_of(HWND w) {
  wchar_t name[256] = {};
  GetClassNameW(w, name, 256);
  return name;
}

// The window's text in UTF-16, as the wide functions read it.
std::wstring text_of(HWND w) {
  DWORD_PTR length = 0;
  if (!w || !SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &length))
    return {};
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(), SMTO_NORMAL,
                      SEND_TIMEOUT, &copied);
  return std::wstring(buffer.data(), std::min<size_t>(copied, length));
}

bool belongs_to_target(HWND w) {
  if (!state.started) return true;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid == state.process.dwProcessId;
}

bool is_message_box(HWND w) {
  HWND icon = GetDlgItem(w, WINE_MSGBOX_ICON_ID);
  if (!icon) icon = GetDlgItem(w, WINDOWS_MSGBOX_ICON_ID);
  return icon && GetDlgItem(w, MSGBOX_TEXT_ID) && class_of(icon) == L"Static";
}

struct FindRequest {
  std::wstring title;
  bool want_message_box;
  int marker;  // a control the dialog must have; 0: any
  HWND found;
};

BOOL CALLBACK find_top_level(HWND w, LPARAM lp) {
  auto* req = reinterpret_cast<FindRequest*>(lp);
  if (!IsWindowVisible(w) || class_of(w) != L"#32770" || !belongs_to_target(w)) return TRUE;
  if (is_message_box(w) != req->want_message_box) return TRUE;
  if (text_of(w) != req->title || (req->marker && !GetDlgItem(w, req->marker))) return TRUE;
  req->found = w;
  return FALSE;
}

HWND find_dialog(const std::wstring& title, bool message_box, int marker) {
  FindRequest req{title, message_box, marker, nullptr};
  EnumWindows(find_top_level, (LPARAM)&req);
  return req.found;
}

HWND wait_for_dialog(const std::wstring& title, bool message_box, DWORD timeout,
                     int marker = 0) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = find_dialog(title, message_box, marker);
    if (w) return w;
    if (GetTickCount() - start > timeout) return nullptr;
    Sleep(POLL_INTERVAL);
  }
}

// Waits until the target's thread has handled everything sent before.
void sync_with(HWND w) {
  DWORD_PTR ignored;
  SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &ignored);
}

HWND window_named(const std::wstring& name) {
  auto it = state.windows.find(name);
  if (it == state.windows.end() || !IsWindow(it->second)) {
    fail("no window bound as " + to_utf8(name));
    return nullptr;
  }
  return it->second;
}

HWND control(const std::wstring& name, const std::wstring& id_text) {
  HWND dialog = window_named(name);
  if (!dialog) return nullptr;
  int id = to_int(id_text);
  if (id == 0) return dialog;  // id 0 stands for the window itself
  HWND c = GetDlgItem(dialog, id);
  if (!c) fail("no control " + to_utf8(id_text) + " in " + to_utf8(name));
  return c;
}

// ---- dialog units ---------------------------------------------------------

INT_PTR CALLBACK silent_proc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// Base units of a dialog in the configured font, measured on a hidden dialog
// of our own, because MapDialogRect does not reach into another process.
void measure_base_units() {
  std::vector<WORD> t(256, 0);
  size_t i = 0;
  auto put = [&](WORD v) { t[i++] = v; };
  DLGTEMPLATE* dt = reinterpret_cast<DLGTEMPLATE*>(t.data());
  dt->style = DS_SETFONT | WS_POPUP;
  dt->cx = 100;
  dt->cy = 100;
  i = sizeof(DLGTEMPLATE) / sizeof(WORD);
  put(0);  // menu
  put(0);  // class
  put(0);  // title
  put((WORD)state.font_points);
  for (wchar_t c : state.font_name) put(c);
  put(0);
  HWND probe = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dt, nullptr, silent_proc, 0);
  RECT r{0, 0, 4, 8};
  if (probe) {
    MapDialogRect(probe, &r);
    DestroyWindow(probe);
  }
  state.base_x = r.right;
  state.base_y = r.bottom;
}

// Pixels back to dialog units: the unit count that MapDialogRect maps onto
// exactly this pixel count, or the nearest one marked with "~".
std::string to_units(int pixels, int base, int per_base) {
  int guess = MulDiv(pixels, per_base, base);
  for (int d = guess - 1; d <= guess + 1; ++d)
    if (MulDiv(d, base, per_base) == pixels) return std::to_string(d);
  return "~" + std::to_string(guess);
}

struct UnitRect {
  std::string x, y, w, h;
};

UnitRect unit_rect(HWND dialog, HWND c) {
  if (!state.base_x) measure_base_units();
  RECT r;
  GetWindowRect(c, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return {to_units(r.left, state.base_x, 4), to_units(r.top, state.base_y, 8),
          to_units(r.right - r.left, state.base_x, 4), to_units(r.bottom - r.top, state.base_y, 8)};
}

// ---- screen ---------------------------------------------------------------

bool capture(const RECT& r, std::vector<DWORD>* pixels) {
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BOOL ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  if (ok) pixels->assign((DWORD*)bits, (DWORD*)bits + (size_t)w * h);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

BOOL CALLBACK add_target_window(HWND w, LPARAM lp) {
  auto* r = reinterpret_cast<RECT*>(lp);
  if (!IsWindowVisible(w) || !belongs_to_target(w)) return TRUE;
  RECT wr;
  GetWindowRect(w, &wr);
  if (wr.right - wr.left <= 1 || wr.bottom - wr.top <= 1) return TRUE;
  if (IsRectEmpty(r)) *r = wr;
  else UnionRect(r, r, &wr);
  return TRUE;
}

// Which standard icon a message box shows: its icon control is compared
// pixel by pixel with each standard icon drawn on the same background.
std::string drawn_icon(HWND box) {
  HWND icon = GetDlgItem(box, WINE_MSGBOX_ICON_ID);
  if (!icon) icon = GetDlgItem(box, WINDOWS_MSGBOX_ICON_ID);
  DWORD_PTR handle = 0;
  if (!icon || !IsWindowVisible(icon) ||
      !SendMessageTimeoutW(icon, STM_GETICON, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &handle) || !handle)
    return "none";
  RECT r;
  GetClientRect(icon, &r);
  MapWindowPoints(icon, nullptr, reinterpret_cast<POINT*>(&r), 2);
  std::vector<DWORD> seen;
  if (!capture(r, &seen)) return "unreadable";
  int w = r.right - r.left, h = r.bottom - r.top;
  static const struct { WORD id; const char* name; } kIcons[] = {
      {32515, "warning"}, {32513, "error"}, {32516, "information"}, {32514, "question"}};
  std::string best = "unknown";
  size_t best_same = 0;
  for (const auto& k : kIcons) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    DWORD background = seen[0];
    for (int i = 0; i < w * h; ++i) ((DWORD*)bits)[i] = background;
    DrawIconEx(mem, 0, 0, LoadIconW(nullptr, MAKEINTRESOURCEW(k.id)), 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
    GdiFlush();
    size_t same = 0;
    for (int i = 0; i < w * h; ++i)
      if ((((DWORD*)bits)[i] & 0xFFFFFF) == (seen[i] & 0xFFFFFF)) ++same;
    if (same > best_same) {
      best_same = same;
      best = k.name;
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
  }
  // The drawn icon must match the control all but a few anti-aliased pixels.
  return best_same * 100 >= (size_t)w * h * 98 ? best : "unknown";
}

// The icon of a box just opened may not have reached the screen yet: it is
// looked at again for a while before it counts as none of the four.
std::string message_box_icon(HWND box) {
  std::string icon = drawn_icon(box);
  for (DWORD start = GetTickCount(); icon == "unknown" && GetTickCount() - start < 2000;) {
    Sleep(SURFACE_FLUSH_DELAY);
    icon = drawn_icon(box);
  }
  return icon;
}

// ---- commands -------------------------------------------------------------

std::string describe_control(HWND dialog, HWND c, int index) {
  UnitRect u = unit_rect(dialog, c);
  char line[256];
  std::snprintf(line, sizeof line,
                "control %d id=%d class=%s style=0x%08lX x=%s y=%s w=%s h=%s enabled=%d visible=%d",
                index, GetDlgCtrlID(c), to_utf8(class_of(c)).c_str(),
                (unsigned long)GetWindowLongW(c, GWL_STYLE), u.x.c_str(), u.y.c_str(),
                u.w.c_str(), u.h.c_str(), IsWindowEnabled(c) ? 1 : 0, IsWindowVisible(c) ? 1 : 0);
  return std::string(line) + " text=\"" + show(text_of(c)) + "\"";
}

std::vector<HWND> children(HWND dialog) {
  std::vector<HWND> list;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) list.push_back(c);
  return list;
}

void cmd_start(const Args& a) {
  // start EXE [ARGUMENTS]: the command line is "EXE" ARGUMENTS exactly.
  std::wstring command = L"\"" + a[1] + L"\"";
  if (a.size() > 2) command += L" " + a[2];
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(a[1].c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &state.process)) {
    fail("cannot start " + to_utf8(command) + " error " + std::to_string(GetLastError()));
    return;
  }
  state.started = true;
  state.exit_code = STILL_ACTIVE;
  WaitForInputIdle(state.process.hProcess, DEFAULT_TIMEOUT);
  print("started %s\n", to_utf8(command).c_str());
}

// ---- console programs ---------------------------------------------------

// The driver shares its console with the program: the events it generates
// reach it too, and it goes on.
BOOL WINAPI ignore_console_event(DWORD) { return TRUE; }

HANDLE inheritable_file(const wchar_t* name, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void cmd_start_console(const Args& a) {
  // A handler of its own, never SetConsoleCtrlHandler(NULL, TRUE): the
  // program would inherit that and ignore Ctrl-C.
  // A new console of the driver's own for every program: the one Wine gives
  // a program started without a terminal generates no control events (error 12).
  FreeConsole();
  if (!AllocConsole()) return fail("no console, error " + std::to_string(GetLastError()));
  SetConsoleCtrlHandler(ignore_console_event, TRUE);
  std::wstring command = L"\"" + a[1] + L"\"";
  if (a.size() > 2) command += L" " + a[2];
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inheritable_file(L"NUL", GENERIC_READ, OPEN_EXISTING);
  si.hStdOutput = inheritable_file(L"out.txt", GENERIC_WRITE, CREATE_ALWAYS);
  si.hStdError = inheritable_file(L"err.txt", GENERIC_WRITE, CREATE_ALWAYS);
  const BOOL started = CreateProcessW(a[1].c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &si, &state.process);
  const DWORD error = GetLastError();
  for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) CloseHandle(h);
  if (!started) return fail("cannot start " + to_utf8(command) + " error " + std::to_string(error));
  state.started = true;
  state.exit_code = STILL_ACTIVE;
  print("started %s on the console\n", to_utf8(command).c_str());
}

// True when a file matching the pattern exists and is empty.
bool empty_file_exists(const std::wstring& pattern) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return found.nFileSizeLow == 0 && found.nFileSizeHigh == 0;
}

bool cmd_interrupt_when(const Args& a) {
  const DWORD event = a[2] == L"ctrl_break" ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
  const DWORD timeout = a.size() > 3 ? (DWORD)to_int(a[3]) : DEFAULT_TIMEOUT;
  const DWORD begin = GetTickCount();
  while (!empty_file_exists(a[1])) {
    if (!state.started || WaitForSingleObject(state.process.hProcess, 0) == WAIT_OBJECT_0) {
      fail("the program ended before " + to_utf8(a[1]) + " was there");
      return false;
    }
    if (GetTickCount() - begin > timeout) {
      fail("no empty " + to_utf8(a[1]) + " within " + std::to_string(timeout) + " ms");
      return false;
    }
  }
  // Held, the program stays where the check finds it until the event is out.
  SuspendThread(state.process.hThread);
  const bool still = empty_file_exists(a[1]);
  const BOOL sent = still && GenerateConsoleCtrlEvent(event, 0);
  const DWORD error = GetLastError();
  ResumeThread(state.process.hThread);
  if (!still) fail("the program got past an empty " + to_utf8(a[1]) + " before it was held");
  if (still && !sent) fail("GenerateConsoleCtrlEvent failed, error " + std::to_string(error));
  if (sent) print("%s sent while %s was empty\n", to_utf8(a[2]).c_str(), to_utf8(a[1]).c_str());
  return sent != FALSE;
}

bool cmd_wait_exit(const Args& a) {
  DWORD timeout = a.size() > 1 ? (DWORD)to_int(a[1]) : DEFAULT_TIMEOUT;
  if (!state.started || WaitForSingleObject(state.process.hProcess, timeout) != WAIT_OBJECT_0) {
    fail("program did not end");
    return false;
  }
  GetExitCodeProcess(state.process.hProcess, &state.exit_code);
  print("exited %lu\n", (unsigned long)state.exit_code);
  return true;
}

bool cmd_wait_window(const Args& a, bool message_box) {
  DWORD timeout = a.size() > 3 ? (DWORD)to_int(a[3]) : DEFAULT_TIMEOUT;
  HWND w = wait_for_dialog(a[2], message_box, timeout, a.size() > 4 ? to_int(a[4]) : 0);
  if (!w) {
    fail(std::string(message_box ? "no message box" : "no dialog") + " titled \"" +
         to_utf8(a[2]) + "\"");
    return false;
  }
  state.windows[a[1]] = w;
  sync_with(w);
  print("%s %s \"%s\"\n", message_box ? "msgbox" : "dialog", to_utf8(a[1]).c_str(),
        to_utf8(a[2]).c_str());
  return true;
}

void cmd_msgbox(const Args& a) {
  HWND box = window_named(a[1]);
  if (!box) return;
  print("msgbox caption=\"%s\"\n", show(text_of(box)).c_str());
  HWND text = GetDlgItem(box, MSGBOX_TEXT_ID);
  print("msgbox text=\"%s\"\n", show(text_of(text)).c_str());
  std::string buttons;
  for (HWND c : children(box))
    if (IsWindowVisible(c) && class_of(c) == L"Button")
      buttons += (buttons.empty() ? "" : " ") + std::to_string(GetDlgCtrlID(c));
  print("msgbox buttons=%s icon=%s\n", buttons.c_str(), message_box_icon(box).c_str());
}

void cmd_expect_msgbox(const Args& a) {
  // expect_msgbox NAME "TEXT" BUTTON_IDS ICON
  HWND box = window_named(a[1]);
  if (!box) return;
  std::wstring text = text_of(GetDlgItem(box, MSGBOX_TEXT_ID));
  if (text != a[2]) fail("message text \"" + show(text) + "\", expected \"" + show(a[2]) + "\"");
  std::string buttons;
  for (HWND c : children(box))
    if (IsWindowVisible(c) && class_of(c) == L"Button")
      buttons += (buttons.empty() ? "" : ",") + std::to_string(GetDlgCtrlID(c));
  if (buttons != to_utf8(a[3])) fail("message buttons " + buttons + ", expected " + to_utf8(a[3]));
  std::string icon = message_box_icon(box);
  if (icon != to_utf8(a[4])) fail("message icon " + icon + ", expected " + to_utf8(a[4]));
}

void cmd_click(const Args& a) {
  HWND dialog = window_named(a[1]);
  HWND c = control(a[1], a[2]);
  if (!c) return;
  // Sent without waiting, then a barrier: the click runs to its end, or to
  // the modal loop of whatever box or dialog it opens.
  SendNotifyMessageW(c, BM_CLICK, 0, 0);
  sync_with(dialog);
}

void cmd_set_text(const Args& a) {
  for (size_t i = 2; i + 1 < a.size(); i += 2) {
    HWND c = control(a[1], a[i]);
    DWORD_PTR ignored;
    if (c && !SendMessageTimeoutW(c, WM_SETTEXT, 0, (LPARAM)a[i + 1].c_str(), SMTO_NORMAL,
                                  SEND_TIMEOUT, &ignored))
      fail("WM_SETTEXT failed");
  }
}

void cmd_expect_text(const Args& a) {
  HWND c = control(a[1], a[2]);
  if (!c) return;
  std::wstring seen = text_of(c);
  if (seen != a[3])
    fail("text of " + to_utf8(a[2]) + " is \"" + show(seen) + "\", expected \"" + show(a[3]) + "\"");
}

void cmd_expect_style(const Args& a);

void cmd_expect_control(const Args& a) {
  // expect_control NAME ID CLASS X Y W H
  HWND dialog = window_named(a[1]);
  HWND c = control(a[1], a[2]);
  if (!c) return;
  if (class_of(c) != a[3])
    fail("class of " + to_utf8(a[2]) + " is " + to_utf8(class_of(c)) + ", expected " + to_utf8(a[3]));
  UnitRect u = unit_rect(dialog, c);
  std::string seen = u.x + "," + u.y + "," + u.w + "," + u.h;
  std::string want = to_utf8(a[4]) + "," + to_utf8(a[5]) + "," + to_utf8(a[6]) + "," + to_utf8(a[7]);
  if (seen != want) fail("rectangle of " + to_utf8(a[2]) + " is " + seen + ", expected " + want);
  if (a.size() > 8 && a[8] != L"*") cmd_expect_text({a[0], a[1], a[2], a[8]});
  if (a.size() > 10) cmd_expect_style({a[0], a[1], a[2], a[9], a[10]});
}

void cmd_expect_style(const Args& a) {
  // expect_style NAME ID MASK VALUE: (style & MASK) == VALUE
  HWND c = control(a[1], a[2]);
  if (!c) return;
  unsigned long style = (unsigned long)GetWindowLongW(c, GWL_STYLE);
  unsigned long mask = std::wcstoul(a[3].c_str(), nullptr, 0);
  unsigned long want = std::wcstoul(a[4].c_str(), nullptr, 0);
  if ((style & mask) != want) {
    char b[128];
    std::snprintf(b, sizeof b, "style of %s is 0x%08lX, (& 0x%08lX) expected 0x%08lX",
                  to_utf8(a[2]).c_str(), style, mask, want);
    fail(b);
  }
}

void cmd_expect_client_size(const Args& a) {
  HWND dialog = window_named(a[1]);
  if (!dialog) return;
  if (!state.base_x) measure_base_units();
  RECT r;
  GetClientRect(dialog, &r);
  std::string seen = to_units(r.right, state.base_x, 4) + "," + to_units(r.bottom, state.base_y, 8);
  std::string want = to_utf8(a[2]) + "," + to_utf8(a[3]);
  if (seen != want) fail("client size is " + seen + ", expected " + want);
}

void cmd_expect_order(const Args& a) {
  HWND dialog = window_named(a[1]);
  if (!dialog) return;
  std::string seen, want;
  for (HWND c : children(dialog)) seen += (seen.empty() ? "" : ",") + std::to_string(GetDlgCtrlID(c));
  for (size_t i = 2; i < a.size(); ++i)
    want += (want.empty() ? "" : ",") + std::to_string(to_int(a[i]));
  if (seen != want) fail("control order " + seen + ", expected " + want);
}

void cmd_expect_state(const Args& a, const char* what) {
  for (size_t i = 2; i + 1 < a.size(); i += 2) {
    HWND c = control(a[1], a[i]);
    if (!c) continue;
    int want = to_int(a[i + 1]), seen = 0;
    DWORD_PTR r = 0;
    if (!std::strcmp(what, "enabled")) {
      seen = IsWindowEnabled(c) ? 1 : 0;
    } else if (!std::strcmp(what, "checked")) {
      SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &r);
      seen = (int)r;
    } else if (!std::strcmp(what, "position")) {
      SendMessageTimeoutW(c, PBM_GETPOS, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &r);
      seen = (int)r;
      if (a[i + 1] == L"full") {  // the end of a range that is more than one step
        SendMessageTimeoutW(c, PBM_GETRANGE, FALSE, 0, SMTO_NORMAL, SEND_TIMEOUT, &r);
        want = (int)r >= 2 ? (int)r : -1;
      }
    } else if (!std::strcmp(what, "visible")) {
      seen = IsWindowVisible(c) ? 1 : 0;
    }
    if (seen != want)
      fail(std::string(what) + " of " + to_utf8(a[i]) + " is " + std::to_string(seen) +
           ", expected " + (a[i + 1] == L"full" ? "the end of a range of " : "") +
           std::to_string(want));
  }
}

void cmd_expect_focus(const Args& a) {
  HWND dialog = window_named(a[1]);
  if (!dialog) return;
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  int seen = info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0;
  if (info.hwndFocus && GetParent(info.hwndFocus) != dialog) seen = -1;
  if (seen != to_int(a[2]))
    fail("focus on " + std::to_string(seen) + ", expected " + std::to_string(to_int(a[2])));
}

void cmd_expect_selection(const Args& a) {
  // expect_selection NAME ID START END; END "all" means the text's length.
  HWND c = control(a[1], a[2]);
  if (!c) return;
  // The packed result (start in the low word, end in the high word) needs no
  // pointers into this process; the texts checked here are short.
  DWORD_PTR packed = 0;
  SendMessageTimeoutW(c, EM_GETSEL, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &packed);
  DWORD start = LOWORD(packed), end = HIWORD(packed);
  DWORD_PTR length = 0;
  SendMessageTimeoutW(c, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &length);
  DWORD want_start = (DWORD)to_int(a[3]);
  DWORD want_end = a[4] == L"all" ? (DWORD)length : (DWORD)to_int(a[4]);
  if (start != want_start || end != want_end)
    fail("selection " + std::to_string(start) + ".." + std::to_string(end) + ", expected " +
         std::to_string(want_start) + ".." + std::to_string(want_end));
}

// The edit control at or below w (the file-name box is a ComboBoxEx32 holding
// a combo box holding the edit).
HWND find_edit(HWND w) {
  if (!w) return nullptr;
  if (class_of(w) == L"Edit") return w;
  for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (HWND e = find_edit(c)) return e;
  return nullptr;
}

void cmd_choose_file(const Args& a) {
  // choose_file NAME PATH: types PATH into the open-file dialog and confirms.
  HWND dialog = window_named(a[1]);
  if (!dialog) return;
  HWND box = find_edit(GetDlgItem(dialog, FILE_NAME_COMBO_ID));
  if (!box) box = find_edit(GetDlgItem(dialog, FILE_NAME_EDIT_ID));
  HWND open = GetDlgItem(dialog, IDOK);
  if (!box || !open) {
    fail("no file name box or open button in the open-file dialog");
    return;
  }
  DWORD_PTR ignored;
  SendMessageTimeoutW(box, WM_SETTEXT, 0, (LPARAM)a[2].c_str(), SMTO_NORMAL, SEND_TIMEOUT, &ignored);
  SendNotifyMessageW(open, BM_CLICK, 0, 0);
  sync_with(dialog);
}

bool cmd_wait_gone(const Args& a) {
  DWORD timeout = a.size() > 2 ? (DWORD)to_int(a[2]) : DEFAULT_TIMEOUT;
  auto it = state.windows.find(a[1]);
  if (it == state.windows.end()) {
    fail("no window bound as " + to_utf8(a[1]));
    return false;
  }
  DWORD start = GetTickCount();
  while (IsWindow(it->second) && IsWindowVisible(it->second)) {
    if (GetTickCount() - start > timeout) {
      fail(to_utf8(a[1]) + " did not close");
      return false;
    }
    Sleep(POLL_INTERVAL);
  }
  return true;
}

// warns NAME TEXT: the warning box that a click on NAME's IDOK must bring,
// with NAME's title, TEXT, one OK button and the warning icon; closed again.
bool cmd_warns(const Args& a) {
  HWND dialog = window_named(a[1]);
  if (!dialog) return false;
  cmd_click({L"click", a[1], L"IDOK"});
  if (!cmd_wait_window({L"wait_msgbox", L"warning", text_of(dialog)}, true)) return false;
  cmd_expect_msgbox({L"expect_msgbox", L"warning", a[2], L"1", L"warning"});
  cmd_click({L"click", L"warning", L"IDOK"});
  return cmd_wait_gone({L"wait_gone", L"warning"});
}

void cmd_expect_items(const Args& a) {
  // expect_items NAME ID TEXT...: the entries of a combo box, in order.
  HWND c = control(a[1], a[2]);
  if (!c) return;
  DWORD_PTR count = 0;
  SendMessageTimeoutW(c, CB_GETCOUNT, 0, 0, SMTO_NORMAL, SEND_TIMEOUT, &count);
  std::wstring seen, want;
  for (DWORD_PTR i = 0; i < count; ++i) {
    wchar_t entry[256] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(c, CB_GETLBTEXTLEN, i, 0, SMTO_NORMAL, SEND_TIMEOUT, &length);
    if (length < 256)  // the W form comes back whole across processes
      SendMessageTimeoutW(c, CB_GETLBTEXT, i, (LPARAM)entry, SMTO_NORMAL, SEND_TIMEOUT, &length);
    seen += (i ? L"|" : L"") + std::wstring(entry);
  }
  for (size_t i = 3; i < a.size(); ++i) want += (i > 3 ? L"|" : L"") + a[i];
  if (seen != want) fail("entries \"" + show(seen) + "\", expected \"" + show(want) + "\"");
}

// ---- downloads --------------------------------------------------------------

// The progress dialog's status, file and block labels and its bar.
constexpr int PROGRESS_STATUS_ID = 1014;
constexpr int PROGRESS_FILE_ID = 1017;
constexpr int PROGRESS_BLOCK_ID = 1018;
constexpr int PROGRESS_BAR_ID = 1035;
constexpr DWORD RUN_TIMEOUT = 120000;  // ms for a download to end
constexpr DWORD RUN_POLL = 20;         // ms between looks at a running download

void cmd_shot(const Args& a);

// What the last followed run showed while it went on, each change once.
struct RunSeen {
  std::vector<std::wstring> status, file, block, bar;
} run_seen;

void remember(std::vector<std::wstring>& list, const std::wstring& s) {
  if (!s.empty() && (list.empty() || list.back() != s)) list.push_back(s);
}

bool cmd_follow_run(const Args& a) {
  // follow_run NAME [STOP_LABEL] [SHOT.png]
  HWND dialog = window_named(a[1]);
  if (!dialog) return false;
  const std::wstring stop = a.size() > 2 ? a[2] : L"-";
  bool shot_due = a.size() > 3, stopped = false;
  run_seen = {};
  DWORD start = GetTickCount();
  // OK is read first, so whatever is seen while it is disabled was shown
  // while the run still went on.
  while (!IsWindowEnabled(GetDlgItem(dialog, IDOK))) {
    if (GetTickCount() - start > RUN_TIMEOUT) {
      fail("the run did not end within " + std::to_string(RUN_TIMEOUT) + " ms");
      return false;
    }
    std::wstring file = text_of(GetDlgItem(dialog, PROGRESS_FILE_ID));
    std::wstring block = text_of(GetDlgItem(dialog, PROGRESS_BLOCK_ID));
    DWORD_PTR position = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, PROGRESS_BAR_ID), PBM_GETPOS, 0, 0, SMTO_NORMAL,
                        SEND_TIMEOUT, &position);
    remember(run_seen.status, text_of(GetDlgItem(dialog, PROGRESS_STATUS_ID)));
    remember(run_seen.file, file);
    remember(run_seen.block, block);
    if (position > 0) remember(run_seen.bar, std::to_wstring(position));
    if (shot_due && !block.empty()) {
      shot_due = false;
      cmd_shot({L"shot", a[3]});
    }
    if (!stopped && file == stop) {
      stopped = true;
      SendNotifyMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    }
    Sleep(RUN_POLL);
  }
  sync_with(dialog);
  for (const auto& s : run_seen.status) print("  status while running: %s\n", show(s).c_str());
  for (const auto& s : run_seen.file) print("  file label: %s\n", show(s).c_str());
  print("  block labels seen: %d, final status \"%s\"\n", (int)run_seen.block.size(),
        show(text_of(GetDlgItem(dialog, PROGRESS_STATUS_ID))).c_str());
  return true;
}

void cmd_expect_seen(const Args& a) {
  // expect_seen status|file|block|bar TEXT|any [0]
  const std::vector<std::wstring>* list = a[1] == L"status" ? &run_seen.status
                                          : a[1] == L"file"  ? &run_seen.file
                                          : a[1] == L"block" ? &run_seen.block
                                          : a[1] == L"bar"   ? &run_seen.bar
                                                             : nullptr;
  if (!list) return fail("unknown part of a run: " + to_utf8(a[1]));
  bool want = a.size() < 4 || to_int(a[3]) != 0;
  bool seen = a[2] == L"any" ? !list->empty()
                             : std::find(list->begin(), list->end(), a[2]) != list->end();
  if (seen != want)
    fail(to_utf8(a[1]) + " \"" + show(a[2]) + "\" " + (want ? "not seen" : "seen") +
         " during the run");
}

void cmd_expect_no_msgbox(const Args& a) {
  // expect_no_msgbox TITLE MS: polls for MS milliseconds; any box is a failure.
  if (wait_for_dialog(a[1], true, (DWORD)to_int(a[2])))
    fail("a message box titled \"" + to_utf8(a[1]) + "\" appeared");
}

std::string read_file(const std::wstring& path, bool* ok) {
  std::string data;
  FILE* f = _wfopen(path.c_str(), L"rb");
  *ok = f != nullptr;
  if (!f) return data;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  std::fclose(f);
  return data;
}

void cmd_expect_file(const Args& a) {
  // expect_file PATH same OTHER | size N | missing | hex OFFSET HEXBYTES
  bool ok = false;
  std::string data = read_file(a[1], &ok);
  const std::wstring& what = a[2];
  std::string name = to_utf8(a[1]);
  if (what == L"missing") {
    // A PATH with wildcards (* ?) stands for every file it matches.
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(a[1].c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    if (ok || h != INVALID_HANDLE_VALUE) fail(name + " exists");
    return;
  }
  if (!ok) return fail(name + " cannot be read");
  if (what == L"same") {
    bool ok2 = false;
    std::string other = read_file(a[3], &ok2);
    if (!ok2) return fail(to_utf8(a[3]) + " cannot be read");
    if (data != other)
      fail(name + " (" + std::to_string(data.size()) + " bytes) differs from " + to_utf8(a[3]) +
           " (" + std::to_string(other.size()) + " bytes)");
  } else if (what == L"size") {
    if (data.size() != (size_t)to_int(a[3]))
      fail(name + " has " + std::to_string(data.size()) + " bytes, expected " + to_utf8(a[3]));
  } else if (what == L"hex") {
    size_t offset = (size_t)to_int(a[3]);
    std::string want = to_utf8(a[4]);
    std::string seen = offset <= data.size() ? hex(data.substr(offset, want.size() / 2)) : "";
    if (seen != want) fail(name + " at " + to_utf8(a[3]) + " holds " + seen + ", expected " + want);
  } else {
    fail("unknown file check " + to_utf8(what));
  }
}

BOOL CALLBACK invalidate_target_window(HWND w, LPARAM) {
  if (IsWindowVisible(w) && belongs_to_target(w))
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  return TRUE;
}

BOOL CALLBACK find_unpainted(HWND w, LPARAM lp) {
  if (!IsWindowVisible(w) || !GetUpdateRect(w, nullptr, FALSE)) return TRUE;
  *reinterpret_cast<bool*>(lp) = true;
  return FALSE;
}

BOOL CALLBACK find_unpainted_top(HWND w, LPARAM lp) {
  if (!IsWindowVisible(w) || !belongs_to_target(w)) return TRUE;
  find_unpainted(w, lp);
  EnumChildWindows(w, find_unpainted, lp);
  return !*reinterpret_cast<bool*>(lp);
}

// Repaints the target's windows and waits until nothing is left to paint.
void settle_painting() {
  EnumWindows(invalidate_target_window, 0);
  DWORD start = GetTickCount();
  for (;;) {
    bool unpainted = false;
    EnumWindows(find_unpainted_top, (LPARAM)&unpainted);
    if (!unpainted || GetTickCount() - start > DEFAULT_TIMEOUT) break;
    Sleep(POLL_INTERVAL);
  }
  Sleep(SURFACE_FLUSH_DELAY);
}

// shot NAME: a screenshot of the target's windows. Wine's screen DC does not
// show what X draws, so the picture is taken by the caller: with
// ZP3K_SCREENSHOTS set, the request "NAME WxH+X+Y" is written to shot.request
// and the driver waits for shot.done; without it the request is only printed.
void cmd_shot(const Args& a) {
  settle_painting();
  RECT r{};
  EnumWindows(add_target_window, (LPARAM)&r);
  if (IsRectEmpty(&r)) return fail("nothing to take a screenshot of");
  char geometry[64];
  std::snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top,
                r.left, r.top);
  std::string request = to_utf8(a[1]) + " " + geometry;
  wchar_t flag[8];
  if (!GetEnvironmentVariableW(L"ZP3K_SCREENSHOTS", flag, 8)) {
    print("screenshot request %s (no taker)\n", request.c_str());
    return;
  }
  const std::wstring done = state.home + L"\\shot.done", asked = state.home + L"\\shot.request";
  DeleteFileW(done.c_str());
  FILE* f = _wfopen((asked + L".tmp").c_str(), L"wb");
  if (!f) return fail("cannot write shot.request");
  std::fprintf(f, "%s\n", request.c_str());
  std::fclose(f);
  MoveFileExW((asked + L".tmp").c_str(), asked.c_str(), MOVEFILE_REPLACE_EXISTING);
  DWORD start = GetTickCount();
  while (GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > DEFAULT_TIMEOUT) return fail("screenshot " + request + " not taken");
    Sleep(POLL_INTERVAL);
  }
  DeleteFileW(done.c_str());
  print("screenshot %s\n", request.c_str());
}

void cmd_list(const Args& a) {
  HWND dialog = window_named(a[1]);
  if (!dialog) return;
  print("window \"%s\" style=0x%08lX\n", show(text_of(dialog)).c_str(),
        (unsigned long)GetWindowLongW(dialog, GWL_STYLE));
  int index = 0;
  for (HWND c : children(dialog)) print("%s\n", describe_control(dialog, c, index++).c_str());
}

// ---- dialog templates ------------------------------------------------------

// Reads a DLGTEMPLATEEX resource: every field as one line of text.
struct TemplateReader {
  const BYTE* p;
  const BYTE* end;
  bool ok = true;
  WORD word() {
    if (p + 2 > end) { ok = false; return 0; }
    WORD v = (WORD)(p[0] | p[1] << 8);
    p += 2;
    return v;
  }
  DWORD dword() {
    DWORD lo = word();
    return lo | (DWORD)word() << 16;
  }
  std::wstring text() {
    std::wstring t;
    for (WORD c = word(); ok && c; c = word()) t += (wchar_t)c;
    return t;
  }
  // A string or an ordinal (0xFFFF then a number): "#n" for an ordinal.
  std::wstring text_or_ordinal() {
    if (p + 2 <= end && p[0] == 0xFF && p[1] == 0xFF) {
      word();
      return L"#" + std::to_wstring(word());
    }
    return text();
  }
  void align() {
    while ((reinterpret_cast<uintptr_t>(p) & 3) != 0) ++p;
  }
};

std::wstring control_class_name(const std::wstring& c) {
  static const wchar_t* kAtoms[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar",
                                    L"ComboBox"};
  if (c.size() > 1 && c[0] == L'#') {
    int atom = std::stoi(c.substr(1));
    if (atom >= 0x80 && atom <= 0x85) return kAtoms[atom - 0x80];
  }
  return c;
}

std::vector<std::string> template_lines(const std::wstring& exe, int id, std::string* error) {
  std::vector<std::string> lines;
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(id), (LPCWSTR)RT_DIALOG) : nullptr;
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (!data) {
    *error = "no dialog template " + std::to_string(id) + " in " + to_utf8(exe);
    return lines;
  }
  TemplateReader r{data, data + SizeofResource(module, found)};
  WORD version = r.word(), signature = r.word();
  if (version != 1 || signature != 0xFFFF) {
    *error = "template " + std::to_string(id) + " is not a DIALOGEX";
    return lines;
  }
  char b[512];
  r.dword();  // help id
  DWORD ex_style = r.dword(), style = r.dword();
  WORD count = r.word();
  short x = (short)r.word(), y = (short)r.word(), w = (short)r.word(), h = (short)r.word();
  std::wstring menu = r.text_or_ordinal(), cls = r.text_or_ordinal(), title = r.text();
  std::snprintf(b, sizeof b, "dialog style=0x%08lX exstyle=0x%08lX x=%d y=%d w=%d h=%d items=%d",
                (unsigned long)style, (unsigned long)ex_style, x, y, w, h, count);
  lines.push_back(b);
  lines.push_back("menu=\"" + to_utf8(menu) + "\" class=\"" + to_utf8(cls) + "\" title=\"" +
                  to_utf8(title) + "\"");
  if (style & (DS_SETFONT | DS_SHELLFONT)) {
    WORD points = r.word(), weight = r.word(), italic_charset = r.word();
    std::wstring face = r.text();
    std::snprintf(b, sizeof b, "font points=%d weight=%d italic=%d charset=%d face=", points,
                  weight, italic_charset & 0xFF, italic_charset >> 8);
    lines.push_back(b + ("\"" + to_utf8(face) + "\""));
  }
  for (int i = 0; i < count && r.ok; ++i) {
    r.align();
    r.dword();  // help id
    DWORD item_ex = r.dword(), item_style = r.dword();
    short ix = (short)r.word(), iy = (short)r.word(), iw = (short)r.word(), ih = (short)r.word();
    DWORD item_id = r.dword();
    std::wstring item_class = control_class_name(r.text_or_ordinal());
    std::wstring item_text = r.text_or_ordinal();
    WORD extra = r.word();
    r.p += extra;
    std::snprintf(b, sizeof b,
                  "item %d id=%lu class=%s style=0x%08lX exstyle=0x%08lX x=%d y=%d w=%d h=%d text=",
                  i, (unsigned long)item_id, to_utf8(item_class).c_str(),
                  (unsigned long)item_style, (unsigned long)item_ex, ix, iy, iw, ih);
    lines.push_back(b + ("\"" + to_utf8(item_text) + "\""));
  }
  if (!r.ok) *error = "template " + std::to_string(id) + " ends early";
  FreeLibrary(module);
  return lines;
}

void cmd_template(const Args& a) {
  // template EXE ID [EXPECTED_FILE]: prints the template, or compares it
  // line by line with a file of the lines it must give.
  std::string error;
  std::vector<std::string> seen = template_lines(a[1], to_int(a[2]), &error);
  if (!error.empty()) return fail(error);
  if (a.size() < 4) {
    for (const auto& line : seen) print("%s\n", line.c_str());
    return;
  }
  bool ok = false;
  std::string expected = read_file(a[3], &ok), line;
  if (!ok) return fail(to_utf8(a[3]) + " cannot be read");
  std::vector<std::string> want;
  for (char c : expected) {
    if (c == '\n') {
      if (!line.empty() && line[0] != '#') want.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty() && line[0] != '#') want.push_back(line);
  for (size_t i = 0; i < seen.size() || i < want.size(); ++i) {
    std::string s = i < seen.size() ? seen[i] : "(nothing)";
    std::string w = i < want.size() ? want[i] : "(nothing)";
    if (s != w) fail("template line " + std::to_string(i + 1) + ": " + s + "\n    expected: " + w);
  }
}

BOOL CALLBACK print_top_level(HWND w, LPARAM) {
  if (!IsWindowVisible(w) || !belongs_to_target(w)) return TRUE;
  RECT r;
  GetWindowRect(w, &r);
  print("top-level class=%s title=\"%s\" message_box=%d enabled=%d rect=%ld,%ld,%ld,%ld\n",
        to_utf8(class_of(w)).c_str(), show(text_of(w)).c_str(), is_message_box(w) ? 1 : 0,
        IsWindowEnabled(w) ? 1 : 0, r.left, r.top, r.right, r.bottom);
  if (is_message_box(w))
    print("  text=\"%s\"\n", show(text_of(GetDlgItem(w, MSGBOX_TEXT_ID))).c_str());
  return TRUE;
}

// Runs one command; false when the script cannot go on.
bool run(const Args& a) {
  const std::wstring& c = a[0];
  auto need = [&](size_t n) {
    if (a.size() >= n) return true;
    fail("too few arguments for " + to_utf8(c));
    return false;
  };
  if (c == L"start") return need(2) && (cmd_start(a), state.started);
  if (c == L"start_console") return need(2) && (cmd_start_console(a), state.started);
  if (c == L"interrupt_when") return need(3) && cmd_interrupt_when(a);
  if (c == L"wait_dialog") return need(3) && cmd_wait_window(a, false);
  if (c == L"wait_msgbox") return need(3) && cmd_wait_window(a, true);
  if (c == L"wait_exit") return cmd_wait_exit(a);
  if (c == L"wait_gone") return need(2) && cmd_wait_gone(a);
  if (c == L"expect_exit") {
    if (need(2) && state.exit_code != (DWORD)to_int(a[1]))
      fail("exit code " + std::to_string(state.exit_code) + ", expected " + to_utf8(a[1]));
    return true;
  }
  if (c == L"expect_running") {
    if (!state.started || WaitForSingleObject(state.process.hProcess, 0) == WAIT_OBJECT_0)
      fail("program is not running");
    return true;
  }
  if (c == L"dialog_font") {
    if (need(3)) { state.font_name = a[1]; state.font_points = to_int(a[2]); state.base_x = 0; }
    return true;
  }
  if (c == L"close") {
    // close NAME: the system menu's Close, as the user would choose it.
    if (need(2) && window_named(a[1])) {
      SendNotifyMessageW(window_named(a[1]), WM_SYSCOMMAND, SC_CLOSE, 0);
      sync_with(window_named(a[1]));
    }
    return true;
  }
  if (c == L"send_command") {
    // send_command NAME ID CODE: WM_COMMAND as a control with that
    // notification code would send it (code 0 is a button click).
    if (need(4) && window_named(a[1])) {
      HWND dialog = window_named(a[1]);
      int id = to_int(a[2]);
      SendNotifyMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, to_int(a[3])),
                         (LPARAM)GetDlgItem(dialog, id));
      sync_with(dialog);
    }
    return true;
  }
  if (c == L"template") { if (need(3)) cmd_template(a); return true; }
  if (c == L"windows") { EnumWindows(print_top_level, 0); return true; }
  if (c == L"list") { if (need(2)) cmd_list(a); return true; }
  if (c == L"msgbox") { if (need(2)) cmd_msgbox(a); return true; }
  if (c == L"expect_msgbox") { if (need(5)) cmd_expect_msgbox(a); return true; }
  if (c == L"warns") return need(3) && cmd_warns(a);
  if (c == L"follow_run") return need(2) && cmd_follow_run(a);
  if (c == L"expect_seen") { if (need(3)) cmd_expect_seen(a); return true; }
  if (c == L"expect_items") { if (need(3)) cmd_expect_items(a); return true; }
  if (c == L"expect_no_msgbox") { if (need(3)) cmd_expect_no_msgbox(a); return true; }
  if (c == L"click") { if (need(3)) cmd_click(a); return true; }
  if (c == L"set_text") { if (need(4)) cmd_set_text(a); return true; }
  if (c == L"expect_text") { if (need(4)) cmd_expect_text(a); return true; }
  if (c == L"expect_control") { if (need(8)) cmd_expect_control(a); return true; }
  if (c == L"expect_style") { if (need(5)) cmd_expect_style(a); return true; }
  if (c == L"expect_client_size") { if (need(4)) cmd_expect_client_size(a); return true; }
  if (c == L"expect_order") { if (need(3)) cmd_expect_order(a); return true; }
  if (c == L"expect_enabled") { if (need(4)) cmd_expect_state(a, "enabled"); return true; }
  if (c == L"expect_visible") { if (need(4)) cmd_expect_state(a, "visible"); return true; }
  if (c == L"expect_checked") { if (need(4)) cmd_expect_state(a, "checked"); return true; }
  if (c == L"expect_position") { if (need(4)) cmd_expect_state(a, "position"); return true; }
  if (c == L"expect_focus") { if (need(3)) cmd_expect_focus(a); return true; }
  if (c == L"expect_selection") { if (need(5)) cmd_expect_selection(a); return true; }
  if (c == L"choose_file") { if (need(3)) cmd_choose_file(a); return true; }
  if (c == L"expect_file") { if (need(3)) cmd_expect_file(a); return true; }
  if (c == L"shot") { if (need(2)) cmd_shot(a); return true; }
  if (c == L"sync") { if (need(2) && window_named(a[1])) sync_with(window_named(a[1])); return true; }
  if (c == L"sleep") { if (need(2)) Sleep((DWORD)to_int(a[1])); return true; }
  if (c == L"chdir") {
    if (need(2) && !SetCurrentDirectoryW(a[1].c_str())) fail("no folder " + to_utf8(a[1]));
    return true;
  }
  if (c == L"hold_file") {  // the handle is closed by the system when the script ends
    if (need(2) && CreateFileW(a[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr) == INVALID_HANDLE_VALUE) {
      fail("cannot hold " + to_utf8(a[1]) + " error " + std::to_string(GetLastError()));
    }
    return true;
  }
  if (c == L"expect_acp") {
    if (need(2) && GetACP() != (UINT)to_int(a[1]))
      fail("ANSI code page " + std::to_string(GetACP()) + ", expected " + to_utf8(a[1]));
    return true;
  }
  if (c == L"echo") { print("%s\n", a.size() > 1 ? to_utf8(a[1]).c_str() : ""); return true; }
  fail("unknown command " + to_utf8(c));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  FILE* script = argc > 1 ? std::fopen(argv[1], "rb") : stdin;
  if (!script) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  wchar_t home[MAX_PATH];
  state.home.assign(home, GetCurrentDirectoryW(MAX_PATH, home));
  print("ANSI code page %u\n", GetACP());
  char raw[8192];
  bool go_on = true;
  while (go_on && std::fgets(raw, sizeof raw, script)) {
    ++state.line_number;
    std::string line(raw);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    Args args = split(from_utf8(line));
    if (args.empty() || args[0][0] == L'#') continue;
    for (auto& arg : args) arg = expand_variables(arg);  // values are taken as they stand
    go_on = run(args);
  }
  if (state.started && WaitForSingleObject(state.process.hProcess, 0) != WAIT_OBJECT_0) {
    // Leave nothing running behind a script that ended early.
    TerminateProcess(state.process.hProcess, 1);
  }
  if (!go_on) print("script stopped at line %d\n", state.line_number);
  print("%s: %d failure(s)\n", state.failures ? "FAILED" : "passed", state.failures);
  return state.failures ? 1 : 0;
}
