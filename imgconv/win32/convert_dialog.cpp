// The converter's Windows front end: WinMain and the dialog (template 129) that
// collects the four inputs, runs the engine and reports its result.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "imgconv/command_line.h"
#include "imgconv/convert.h"
#include "imgconv/messages.h"
#include "imgconv_ids.h"

namespace {

using imgconv::convert_message;

constexpr int SOURCE_BUFFER_SIZE = 520;   // bytes, NUL included
constexpr int DEST_BUFFER_SIZE = 520;     // bytes, NUL included
constexpr int VERSION_BUFFER_SIZE = 8;    // bytes, NUL included
constexpr int COMMENT_BUFFER_SIZE = 32;   // bytes, NUL included
constexpr int FILE_NAME_BUFFER_SIZE = 520;  // bytes, NUL included
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
const char kHexFilter[] = "MotHex Files(*.hex)\0*.hex\0All Files(*.*)\0*.*\0";
constexpr DWORD OPEN_FILE_FLAGS = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;

// The command line as Windows passed it, without the program name.
char command_line_copy[imgconv::COMMAND_LINE_SIZE];
bool header_only = false;

// The overwrite question the engine asks while confirm_overwrite is set.
bool ask_overwrite(void* context) {
  HWND dialog = static_cast<HWND>(context);
  return MessageBoxA(dialog, convert_message(imgconv::ROW_OVERWRITE_QUESTION),
                     convert_message(imgconv::ROW_TITLE), MB_OKCANCEL) != IDCANCEL;
}

void set_texts(HWND dialog) {
  SetWindowTextA(dialog, convert_message(imgconv::ROW_TITLE));
  static const struct { int id; int row; } kLabels[] = {
      {IDC_SOURCE_LABEL, ROW_SOURCE_LABEL}, {IDC_DEST_LABEL, ROW_DEST_LABEL},
      {IDC_VERSION_LABEL, ROW_VERSION_LABEL}, {IDC_COMMENT_LABEL, ROW_COMMENT_LABEL},
      {IDC_BROWSE, ROW_BROWSE}, {IDOK, ROW_START}, {IDCANCEL, ROW_CANCEL},
      {IDC_HEADER_ONLY, ROW_HEADER_ONLY},
  };
  for (const auto& label : kLabels) SetDlgItemTextA(dialog, label.id, convert_message(label.row));
}

void on_init_dialog(HWND dialog) {
  imgconv::convert_flags.confirm_overwrite = true;
  imgconv::convert_flags.ask_overwrite = ask_overwrite;
  imgconv::convert_flags.ask_context = dialog;
  set_texts(dialog);

  static imgconv::CommandLineSlots slots;
  int words = imgconv::parse_command_line(command_line_copy, &slots);
  if (words == 0) return;
  SetDlgItemTextA(dialog, IDC_SOURCE_PATH, slots.value[imgconv::SLOT_SOURCE]);
  SetDlgItemTextA(dialog, IDC_DEST_NAME, slots.value[imgconv::SLOT_DEST]);
  SetDlgItemTextA(dialog, IDC_VERSION, slots.value[imgconv::SLOT_VERSION]);
  SetDlgItemTextA(dialog, IDC_COMMENT, slots.value[imgconv::SLOT_COMMENT]);
  if (words == AUTOMATIC_RUN_WORDS) {
    // A complete command line converts at once, overwriting without asking.
    imgconv::convert_flags.confirm_overwrite = false;
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
  }
}

void on_start(HWND dialog) {
  static char source[SOURCE_BUFFER_SIZE];
  static char dest[DEST_BUFFER_SIZE];
  static char version[VERSION_BUFFER_SIZE];
  static char comment[COMMENT_BUFFER_SIZE];
  GetDlgItemTextA(dialog, IDC_SOURCE_PATH, source, sizeof source);
  GetDlgItemTextA(dialog, IDC_DEST_NAME, dest, sizeof dest);
  GetDlgItemTextA(dialog, IDC_VERSION, version, sizeof version);
  GetDlgItemTextA(dialog, IDC_COMMENT, comment, sizeof comment);

  imgconv::ConvertResult result = header_only
                                      ? imgconv::write_header_only(dest, version, comment)
                                      : imgconv::convert_to_image(source, dest, version, comment);
  if (result == imgconv::CONVERT_OK) {
    EndDialog(dialog, 1);
  } else if (result != imgconv::CONVERT_CANCELLED) {
    MessageBoxA(dialog, convert_message(imgconv::ROW_RESULT_BASE + result),
                convert_message(imgconv::ROW_TITLE), MB_ICONWARNING);
  }
  imgconv::convert_flags.confirm_overwrite = true;
}

void on_browse(HWND dialog) {
  static char file_name[FILE_NAME_BUFFER_SIZE];
  static char full_path[FILE_NAME_BUFFER_SIZE];
  std::memset(file_name, 0, sizeof file_name);

  OPENFILENAMEA ofn;
  std::memset(&ofn, 0, sizeof ofn);
  // The record without the fields later Windows versions added (76 bytes in
  // a 32-bit build; this constant gives the same layout in a 64-bit one).
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = kHexFilter;
  ofn.lpstrFile = file_name;
  ofn.nMaxFile = sizeof file_name;
  ofn.lpstrTitle = convert_message(ROW_OPEN_FILE_TITLE);
  ofn.Flags = OPEN_FILE_FLAGS;
  if (!GetOpenFileNameA(&ofn)) return;

  DWORD length = GetFullPathNameA(file_name, sizeof full_path, full_path, nullptr);
  if (length == 0 || length >= sizeof full_path) return;  // no absolute form that fits
  SetDlgItemTextA(dialog, IDC_SOURCE_PATH, full_path);
  SendDlgItemMessageA(dialog, IDC_SOURCE_PATH, EM_SETSEL, 0, -1);
}

void on_header_only(HWND dialog) {
  header_only = SendDlgItemMessageA(dialog, IDC_HEADER_ONLY, BM_GETCHECK, 0, 0) == BST_CHECKED;
  EnableWindow(GetDlgItem(dialog, IDC_SOURCE_PATH), header_only ? FALSE : TRUE);
  EnableWindow(GetDlgItem(dialog, IDC_BROWSE), header_only ? FALSE : TRUE);
}

INT_PTR CALLBACK ConvertDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      on_init_dialog(dialog);
      return TRUE;
    case WM_COMMAND:
      // The whole wParam is compared, so only clicks (notification 0) act.
      switch (wparam) {
        case IDOK: on_start(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, 1); return TRUE;
        case IDC_BROWSE: on_browse(dialog); return TRUE;
        case IDC_HEADER_ONLY: on_header_only(dialog); return TRUE;
        default: return FALSE;
      }
    case WM_DESTROY:
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  // A longer command line is cut at the copy's size, never overrun.
  std::strncpy(command_line_copy, command_line ? command_line : "", sizeof command_line_copy - 1);
  command_line_copy[sizeof command_line_copy - 1] = '\0';
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONVERT), nullptr, ConvertDialogProc, 0);
  return 0;
}
