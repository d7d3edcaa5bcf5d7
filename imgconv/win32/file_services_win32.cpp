// Win32 file seam of the converter: the core's UTF-8 paths become UTF-16 for
// GetFullPathNameW, FindFirstFileW, DeleteFileW and _wfopen, so any file the
// system can name is found, whatever the ANSI code page.
#include <windows.h>

#include <cstring>
#include <string>

#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "resources/win32_text.h"

namespace imgconv {
namespace {

// GetFullPathNameW counts UTF-16 units, as the file system does: the result
// may hold as many of them as a path may (the 520-byte buffer of old held
// as many bytes).
constexpr DWORD FULL_PATH_UNITS = PATH_LIMIT + 1;  // UTF-16 units, NUL included

bool win32_full_path(const char* name, char* out, std::size_t out_size) {
  wchar_t buffer[FULL_PATH_UNITS];
  const DWORD n = GetFullPathNameW(zp3k::widen(name).c_str(), FULL_PATH_UNITS, buffer, nullptr);
  // 0 is a failure; a result of the buffer size or more means it did not fit.
  if (n == 0 || n >= FULL_PATH_UNITS) return false;
  std::string utf8;
  if (!zp3k::narrow(std::wstring(buffer, n), &utf8) || utf8.size() + 1 > out_size) return false;
  std::memcpy(out, utf8.c_str(), utf8.size() + 1);
  return true;
}

std::size_t win32_path_length(const char* path) { return zp3k::widen(path).size(); }

bool win32_file_exists(const char* path) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(zp3k::widen(path).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool win32_delete_file(const char* path) { return DeleteFileW(zp3k::widen(path).c_str()) != 0; }

std::FILE* win32_open_source(const char* path) {
  return _wfopen(zp3k::widen(path).c_str(), L"rt");
}

std::FILE* win32_open_output(const char* path) {
  return _wfopen(zp3k::widen(path).c_str(), L"w+b");
}

}  // namespace

const FileServices platform_file_services = {win32_full_path, win32_file_exists,
                                             win32_delete_file, win32_open_source,
                                             win32_open_output, true, win32_path_length};

}  // namespace imgconv
