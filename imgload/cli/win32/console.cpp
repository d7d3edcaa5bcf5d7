// The console on Windows: the words read from the wide command line and
// made UTF-8, like every text of the core; a console set to show UTF-8 and,
// when it can, the escape sequences of the progress bar.
#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <cstdio>

#include "imgload/cli/console.h"
#include "resources/win32_text.h"

namespace zp3k {

namespace {

// The console handle behind standard output, or null when it is a file, a
// pipe or a device other than a console (where _isatty alone says yes, as
// for NUL).
HANDLE output_console() {
  if (!_isatty(_fileno(stdout))) return nullptr;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode) ? out : nullptr;
}

}  // namespace

// A word the wide command line holds that is no valid UTF-16 (an unpaired
// surrogate) can name no file the core could open: the ANSI word stands in
// for it, and is refused like any name that is not found.
CommandWords::CommandWords(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; i < count; ++i) {
    std::string word;
    if (!narrow(wide[i], &word) && i < argc) word = argv[i];
    words_.push_back(word);
  }
  if (wide != nullptr) LocalFree(wide);
  if (wide == nullptr) words_.assign(argv, argv + argc);
  for (std::string& w : words_) pointers_.push_back(&w[0]);
  pointers_.push_back(nullptr);
}

void prepare_console() {
  HANDLE out = output_console();
  if (out == nullptr) return;  // a file or a pipe takes the UTF-8 bytes as they are
  (void)SetConsoleOutputCP(CP_UTF8);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    // Refused by consoles older than Windows 10: the line view is used there.
    (void)SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

bool console_shows_bar() {
  HANDLE out = output_console();
  DWORD mode = 0;
  return out != nullptr && GetConsoleMode(out, &mode) &&
         (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace zp3k
