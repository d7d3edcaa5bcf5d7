// Paths on Windows: the UTF-8 name becomes UTF-16 for GetFullPathNameW, and
// lengths count UTF-16 units, as the file system does.
#include <windows.h>

#include <cstring>
#include <string>

#include "image/paths.h"
#include "platform/utf16.h"

namespace zp3k {

namespace {
// GetFullPathNameW counts UTF-16 units, as the file system does: the result
// may hold as many of them as a path may.
constexpr DWORD FULL_PATH_UNITS = PATH_LIMIT + 1;  // UTF-16 units, NUL included
}  // namespace

bool full_path(const char* name, char* out, std::size_t out_size) {
  wchar_t buffer[FULL_PATH_UNITS];
  const DWORD n = GetFullPathNameW(widen(name).c_str(), FULL_PATH_UNITS, buffer, nullptr);
  // 0 is a failure; a result of the buffer size or more means it did not fit.
  if (n == 0 || n >= FULL_PATH_UNITS) return false;
  std::string utf8;
  if (!narrow(std::wstring(buffer, n), &utf8) || utf8.size() + 1 > out_size) return false;
  std::memcpy(out, utf8.c_str(), utf8.size() + 1);
  return true;
}

std::size_t path_length(const char* path) { return widen(path).size(); }

}  // namespace zp3k
