// Win32 file seam of the converter: the core's UTF-8 paths become UTF-16 for
// GetFullPathNameW, FindFirstFileW, DeleteFileW, CreateFileW and MoveFileExW,
// so any file the system can name is found, whatever the ANSI code page.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
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

// A handle opened with CreateFileW as a C stream in the given mode; the
// handle is closed when that fails.
std::FILE* stream_of(HANDLE h, int open_flags, const char* mode) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), open_flags);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

// Shared as _wfopen shares; anything GetFileType does not call a disk file
// (a pipe, a console or another device) is refused at once. A folder cannot
// be opened this way at all.
std::FILE* win32_open_source(const char* path) {
  HANDLE h = CreateFileW(zp3k::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return nullptr;
  }
  return stream_of(h, _O_RDONLY | _O_TEXT, "rt");
}

// The temporary file: a new name in the output's folder (CREATE_NEW, so it is
// this program's own), deleted by the engine unless it is moved into place.
std::FILE* win32_create_temp(const char* output_path, char* temp_path, std::size_t temp_size) {
  const char* cut = std::strrchr(output_path, '\\');
  const char* slash = std::strrchr(output_path, '/');
  if (slash != nullptr && (cut == nullptr || slash > cut)) cut = slash;
  if (cut == nullptr) cut = std::strrchr(output_path, ':');
  const int folder_len = cut == nullptr ? 0 : static_cast<int>(cut - output_path + 1);
  // The process's own earlier files are gone (moved or deleted), so the name
  // only needs the next number where another process's file stands.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const int n = std::snprintf(temp_path, temp_size, "%.*s~imgconv-%lu-%u.tmp", folder_len,
                                output_path, GetCurrentProcessId(), attempt);
    if (n < 0 || static_cast<std::size_t>(n) >= temp_size) return nullptr;
    HANDLE h = CreateFileW(zp3k::widen(temp_path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return nullptr;
    }
    std::FILE* file = stream_of(h, _O_RDWR | _O_BINARY, "w+b");
    if (file == nullptr) DeleteFileW(zp3k::widen(temp_path).c_str());
    return file;
  }
  return nullptr;
}

// MoveFileExW replaces an existing file (or a link, not its target) in one
// step; a file that another program holds open without sharing is refused.
bool win32_move_into_place(const char* temp_path, const char* output_path) {
  return MoveFileExW(zp3k::widen(temp_path).c_str(), zp3k::widen(output_path).c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace

FileServices platform_file_services() {
  return {win32_full_path,   win32_file_exists,     win32_delete_file, win32_open_source,
          win32_create_temp, win32_move_into_place, true,              win32_path_length};
}

}  // namespace imgconv
