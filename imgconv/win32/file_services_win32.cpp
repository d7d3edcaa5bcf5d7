// Win32 file seam of the converter: the core's UTF-8 paths become UTF-16 for
// FindFirstFileW, DeleteFileW, CreateFileW and MoveFileExW, so any file the
// system can name is found, whatever the ANSI code page.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "imgconv/file_services.h"
#include "resources/win32_text.h"

namespace imgconv {
namespace {

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
  return {win32_file_exists, win32_delete_file, win32_open_source, win32_create_temp,
          win32_move_into_place, true};
}

}  // namespace imgconv
