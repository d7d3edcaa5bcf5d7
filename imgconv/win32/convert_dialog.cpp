// The converter's Windows front end: WinMain and the dialog (template 129) that
// collects the four inputs, runs the engine and reports its result. Texts
// reach the system in UTF-16 and the engine in UTF-8; the comment is handed
// over in cp932, as the image stores it.
#include <windows.h>
#include <commdlg.h>

#include <cstring>
#include <string>

#include "imgconv/command_line.h"
#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "image/image_format.h"
#include "imgconv/messages.h"
#include "imgconv_ids.h"
#include "platform/dialog_text.h"

namespace {

using imgconv::convert_message;

// The limits count UTF-16 units, as the system does: a path or command line
// holds as many characters as a path may.
constexpr std::size_t PATH_TEXT_LIMIT = zp3k::PATH_LIMIT;  // units of the source and destination edits
constexpr std::size_t COMMAND_LINE_LIMIT = imgconv::COMMAND_LINE_UNITS;  // units
constexpr DWORD FILE_NAME_BUFFER_UNITS = zp3k::PATH_LIMIT + 1;  // open-file dialog and full path, NUL included
constexpr int AUTOMATIC_RUN_WORDS = 4;    // parse_command_line result that starts the run

constexpr int ROW_SOURCE_LABEL = 1;
constexpr int ROW_DEST_LABEL = 2;
constexpr int ROW_VERSION_LABEL = 3;
constexpr int ROW_COMMENT_LABEL = 4;
constexpr int ROW_BROWSE = 5;
constexpr int ROW_START = 6;
constexpr int ROW_CANCEL = 7;
constexpr int ROW_OPEN_FILE_TITLE = 8;
constexpr int ROW_HEADER_ONLY = 9;

// Filter pairs of the open-file dialog, ended by an empty pair.
const wchar_t kHexFilter[] = L"MotHex Files(*.hex)\0*.hex\0All Files(*.*)\0*.*\0";
constexpr DWORD OPEN_FILE_FLAGS = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

// The dialog's state: handed over by WinMain through DialogBoxParamW's
// lParam and kept with the dialog (DWLP_USER) from WM_INITDIALOG on.
struct DialogState {
  HINSTANCE instance = nullptr;
  std::string command_line_utf8;  // without the program name
  bool header_only = false;
  imgconv::Converter converter{imgconv::platform_file_services()};
};

DialogState* state_of(HWND dialog) {
  return reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

std::wstring message(int row) { return zp3k::widen(convert_message(row)); }

void show_warning(HWND dialog, const std::wstring& text) {
  MessageBoxW(dialog, text.c_str(), message(imgconv::ROW_TITLE).c_str(), MB_ICONWARNING);
}

// A text cut to at most limit UTF-16 units, never inside a surrogate pair.
std::wstring cut_units(std::wstring text, std::size_t limit) {
  if (text.size() <= limit) return text;
  if (IS_HIGH_SURROGATE(text[limit - 1])) --limit;
  text.resize(limit);
  return text;
}

// The text of an edit in UTF-8, cut at limit units; empty when the edit holds
// an unpaired surrogate, which no file name or version can contain.
std::string edit_utf8(HWND dialog, int id, std::size_t limit) {
  std::string utf8;
  if (!zp3k::narrow(cut_units(zp3k::item_text(dialog, id), limit), &utf8)) utf8.clear();
  return utf8;
}

// The overwrite question the engine asks while confirm_overwrite is set.
bool ask_overwrite(void* context) {
  HWND dialog = static_cast<HWND>(context);
  return MessageBoxW(dialog, message(imgconv::ROW_OVERWRITE_QUESTION).c_str(),
                     message(imgconv::ROW_TITLE).c_str(), MB_OKCANCEL) != IDCANCEL;
}

void set_texts(HWND dialog) {
  SetWindowTextW(dialog, message(imgconv::ROW_TITLE).c_str());
  static const struct { int id; int row; } kLabels[] = {
      {IDC_SOURCE_LABEL, ROW_SOURCE_LABEL}, {IDC_DEST_LABEL, ROW_DEST_LABEL},
      {IDC_VERSION_LABEL, ROW_VERSION_LABEL}, {IDC_COMMENT_LABEL, ROW_COMMENT_LABEL},
      {IDC_BROWSE, ROW_BROWSE}, {IDOK, ROW_START}, {IDCANCEL, ROW_CANCEL},
      {IDC_HEADER_ONLY, ROW_HEADER_ONLY},
  };
  for (const auto& label : kLabels) zp3k::set_item_text(dialog, label.id, convert_message(label.row));
}

void on_init_dialog(HWND dialog, DialogState* state) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
  imgconv::ConvertFlags& flags = state->converter.flags;
  flags.confirm_overwrite = true;
  flags.ask_overwrite = ask_overwrite;
  flags.ask_context = dialog;
  set_texts(dialog);

  imgconv::CommandLineSlots slots;
  int words = imgconv::parse_command_line(state->command_line_utf8.c_str(), &slots);
  if (words == 0) return;
  zp3k::set_item_text(dialog, IDC_SOURCE_PATH, slots.value[imgconv::SLOT_SOURCE]);
  zp3k::set_item_text(dialog, IDC_DEST_NAME, slots.value[imgconv::SLOT_DEST]);
  zp3k::set_item_text(dialog, IDC_VERSION, slots.value[imgconv::SLOT_VERSION]);
  zp3k::set_item_text(dialog, IDC_COMMENT, slots.value[imgconv::SLOT_COMMENT]);
  if (words == AUTOMATIC_RUN_WORDS) {
    // A complete command line converts at once, overwriting without asking.
    flags.confirm_overwrite = false;
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
  }
}

void on_start(HWND dialog, DialogState* state) {
  imgconv::Converter& converter = state->converter;
  // A comment character that cp932 lacks is refused before anything is
  // opened: the image could only store a stand-in for it.
  std::string comment_utf8, comment, bad;
  if (!zp3k::narrow(zp3k::item_text(dialog, IDC_COMMENT), &comment_utf8) ||
      image::utf8_to_cp932(comment_utf8, &comment, &bad) != image::TextError::NONE) {
    wchar_t text[256];
    LoadStringW(state->instance, IDS_COMMENT_NOT_CP932, text, 256);
    show_warning(dialog, text);
    converter.flags.confirm_overwrite = true;
    return;
  }
  const std::string source = edit_utf8(dialog, IDC_SOURCE_PATH, PATH_TEXT_LIMIT);
  const std::string dest = edit_utf8(dialog, IDC_DEST_NAME, PATH_TEXT_LIMIT);
  // Every accepted version has 4 to 6 characters; a longer text stays whole
  // and is refused as it was typed.
  const std::string version = edit_utf8(dialog, IDC_VERSION, PATH_TEXT_LIMIT);

  imgconv::ConvertReport fault;
  imgconv::ConvertResult result =
      state->header_only ? converter.write_header_only(dest.c_str(), version.c_str(), comment.c_str())
                         : converter.convert_to_image(source.c_str(), dest.c_str(), version.c_str(),
                                                      comment.c_str(), &fault);
  if (result == imgconv::CONVERT_OK) {
    EndDialog(dialog, 1);
  } else if (result == imgconv::CONVERT_ERR_SOURCE_RECORD) {
    show_warning(dialog, zp3k::widen(imgconv::record_fault_message(fault).c_str()));
  } else if (result != imgconv::CONVERT_CANCELLED) {
    show_warning(dialog, message(imgconv::ROW_RESULT_BASE + result));
  }
  converter.flags.confirm_overwrite = true;
}

void on_browse(HWND dialog) {
  wchar_t file_name[FILE_NAME_BUFFER_UNITS] = {};
  wchar_t full_path[FILE_NAME_BUFFER_UNITS];
  const std::wstring title = message(ROW_OPEN_FILE_TITLE);

  OPENFILENAMEW ofn;
  std::memset(&ofn, 0, sizeof ofn);
  // The record without the fields later Windows versions added, which every
  // version of the common dialogs accepts.
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = kHexFilter;
  ofn.lpstrFile = file_name;
  ofn.nMaxFile = FILE_NAME_BUFFER_UNITS;
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = OPEN_FILE_FLAGS;
  if (!GetOpenFileNameW(&ofn)) return;

  DWORD length = GetFullPathNameW(file_name, FILE_NAME_BUFFER_UNITS, full_path, nullptr);
  if (length == 0 || length >= FILE_NAME_BUFFER_UNITS) return;  // no absolute form that fits
  SetDlgItemTextW(dialog, IDC_SOURCE_PATH, full_path);
  SendDlgItemMessageW(dialog, IDC_SOURCE_PATH, EM_SETSEL, 0, -1);
}

void on_header_only(HWND dialog, DialogState* state) {
  const bool header_only = SendDlgItemMessageW(dialog, IDC_HEADER_ONLY, BM_GETCHECK, 0, 0) == BST_CHECKED;
  state->header_only = header_only;
  EnableWindow(GetDlgItem(dialog, IDC_SOURCE_PATH), header_only ? FALSE : TRUE);
  EnableWindow(GetDlgItem(dialog, IDC_BROWSE), header_only ? FALSE : TRUE);
}

INT_PTR CALLBACK ConvertDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      on_init_dialog(dialog, reinterpret_cast<DialogState*>(lparam));
      return TRUE;
    case WM_COMMAND:
      // The whole wParam is compared, so only clicks (notification 0) act.
      switch (wparam) {
        case IDOK: on_start(dialog, state_of(dialog)); return TRUE;
        case IDCANCEL: EndDialog(dialog, 1); return TRUE;
        case IDC_BROWSE: on_browse(dialog); return TRUE;
        case IDC_HEADER_ONLY: on_header_only(dialog, state_of(dialog)); return TRUE;
        default: return FALSE;
      }
    case WM_DESTROY:
      return TRUE;
    default:
      return FALSE;
  }
}

// The command line without the program's own name, as WinMain's ANSI
// argument would give it, but in UTF-16: the name is skipped (quoted or up to
// the first blank), then the blanks after it.
std::wstring arguments_of(const wchar_t* line) {
  if (line == nullptr) return {};
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line > L' ') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  DialogState state;
  state.instance = instance;
  // A longer command line is cut at the path limit's units.
  if (!zp3k::narrow(cut_units(arguments_of(GetCommandLineW()), COMMAND_LINE_LIMIT),
                    &state.command_line_utf8)) {
    state.command_line_utf8.clear();
  }
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CONVERT), nullptr, ConvertDialogProc,
                  reinterpret_cast<LPARAM>(&state));
  return 0;
}
