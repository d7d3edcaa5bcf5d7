// The operator's lines on Windows: a console's characters read as UTF-16 and
// given as UTF-8, whatever its code page; a pipe or file read as UTF-8 bytes.
#include <windows.h>

#include <string>

#include "imgload/cli/operator_input.h"
#include "platform/utf16.h"

namespace imgload {

namespace {

constexpr DWORD CONSOLE_RETRY_MS = 100;  // ms after a read that Ctrl-C cut short
constexpr wchar_t CONSOLE_END = 0x1A;    // Ctrl-Z at the start of a line: the end of input

// More of the console's input appended to pending; false at its end.
bool read_console(HANDLE input, std::string* pending) {
  wchar_t buffer[256];
  DWORD got = 0;
  if (!ReadConsoleW(input, buffer, 256, &got, nullptr)) return false;
  if (got == 0) {  // Ctrl-C or Ctrl-Break: the stop handler has it
    Sleep(CONSOLE_RETRY_MS);
    return true;
  }
  if (buffer[0] == CONSOLE_END && pending->empty()) return false;
  std::string text;
  if (!zp3k::narrow(std::wstring(buffer, got), &text)) text = "?";  // an unpaired surrogate
  *pending += text;
  return true;
}

// More bytes of a pipe or file appended to pending; false at its end.
bool read_bytes(HANDLE input, std::string* pending) {
  char buffer[256];
  DWORD got = 0;
  if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
  pending->append(buffer, got);
  return true;
}

}  // namespace

bool read_more_input(std::string* pending) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == INVALID_HANDLE_VALUE || input == nullptr) return false;
  DWORD mode = 0;
  return GetConsoleMode(input, &mode) ? read_console(input, pending) : read_bytes(input, pending);
}

}  // namespace imgload
