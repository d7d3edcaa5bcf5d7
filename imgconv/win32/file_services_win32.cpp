// Win32 file seam of the converter: GetFullPathNameA, FindFirstFileA, DeleteFileA, fopen.
#include <windows.h>

#include <cstring>

#include "imgconv/convert.h"
#include "imgconv/file_services.h"

namespace imgconv {
namespace {

bool win32_full_path(const char* name, char* out, std::size_t out_size) {
  char buffer[PATH_BUFFER_SIZE];
  DWORD n = GetFullPathNameA(name, sizeof buffer, buffer, nullptr);
  // 0 is a failure; a result of the buffer size or more means it did not fit.
  if (n == 0 || n >= sizeof buffer || n + 1 > out_size) return false;
  std::memcpy(out, buffer, n + 1);
  return true;
}

bool win32_file_exists(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(path, &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool win32_delete_file(const char* path) { return DeleteFileA(path) != 0; }

std::FILE* win32_open_source(const char* path) { return std::fopen(path, "rt"); }

std::FILE* win32_open_output(const char* path) { return std::fopen(path, "w+b"); }

}  // namespace

const FileServices platform_file_services = {win32_full_path, win32_file_exists,
                                             win32_delete_file, win32_open_source,
                                             win32_open_output};

}  // namespace imgconv
