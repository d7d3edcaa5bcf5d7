// Win32 file seam of the converter: the core's UTF-8 paths become UTF-16 for
// FindFirstFileW, DeleteFileW, CreateFileW and MoveFileExW, so any file the
// system can name is found, whatever the ANSI code page; the source through
// the platform layer; the pending temporary file for a console event's
// clean-up; GetLastError.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "imgconv/convert.h"  // PATH_BUFFER_SIZE
#include "imgconv/file_services.h"
#include "platform/files.h"
#include "platform/utf16.h"

namespace imgconv {
namespace {

// The temporary file that discard_pending_temp removes: its UTF-16 path and
// whether it is there. Program-wide because a console event's thread reads
// it; the lock keeps its registration and removal apart from the discard.
struct PendingTemp {
  SRWLOCK lock = SRWLOCK_INIT;
  wchar_t path[PATH_BUFFER_SIZE];
  bool set = false;
};
PendingTemp pending_temp;

class PendingLocked {
 public:
  PendingLocked() { AcquireSRWLockExclusive(&pending_temp.lock); }
  ~PendingLocked() { ReleaseSRWLockExclusive(&pending_temp.lock); }
};

// Forgets the pending temporary file when it is the one at path (call
// with the lock held).
void forget_pending_temp(const std::wstring& path) {
  if (pending_temp.set && path == pending_temp.path) pending_temp.set = false;
}

bool win32_file_exists(const char* path) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(zp3k::widen(path).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool win32_delete_file(const char* path) {
  const std::wstring wide = zp3k::widen(path);
  PendingLocked locked;
  const bool removed = DeleteFileW(wide.c_str()) != 0;
  const DWORD error = GetLastError();
  if (removed || error == ERROR_FILE_NOT_FOUND) forget_pending_temp(wide);
  SetLastError(error);
  return removed;
}

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

std::FILE* win32_open_source(const char* path, zp3k::Status* status) {
  return zp3k::open_regular_file(path, zp3k::Sharing::WITH_WRITERS, true, status);
}

// A new file of that name (CREATE_NEW, so it is this program's own),
// registered as the pending temporary file. Shared for deleting only, so
// that discard_pending_temp can remove it while the engine holds it open.
HANDLE create_pending(const std::wstring& path) {
  if (path.size() >= PATH_BUFFER_SIZE) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  PendingLocked locked;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    std::memcpy(pending_temp.path, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    pending_temp.set = true;
  }
  return h;
}

// The temporary file: a new name in the output's folder, deleted by the
// engine unless it is moved into place.
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
    if (n < 0 || static_cast<std::size_t>(n) >= temp_size) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return nullptr;
    }
    HANDLE h = create_pending(zp3k::widen(temp_path));
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return nullptr;
    }
    std::FILE* file = stream_of(h, _O_RDWR | _O_BINARY, "w+b");
    if (file == nullptr) win32_delete_file(temp_path);
    return file;
  }
  return nullptr;
}

// MoveFileExW replaces an existing file (or a link, not its target) in one
// step; a file that another program holds open without sharing is refused,
// and so is a temporary file that a console event has discarded.
bool win32_move_into_place(const char* temp_path, const char* output_path) {
  const std::wstring from = zp3k::widen(temp_path);
  const std::wstring to = zp3k::widen(output_path);
  PendingLocked locked;
  if (!pending_temp.set || from != pending_temp.path) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) return false;
  forget_pending_temp(from);
  return true;
}

// The words of the POSIX programs (strerror's) for the errors both systems
// have; a few of Windows' own in words of the same kind.
int win32_last_error() { return static_cast<int>(GetLastError()); }

}  // namespace

FileServices platform_file_services() {
  return {win32_file_exists, win32_delete_file, win32_open_source, win32_create_temp,
          win32_move_into_place, true, win32_last_error};
}

// The file is shared for deleting, so DeleteFileW succeeds while the engine
// holds it open: it is gone once the last handle closes, at the latest when
// the program ends.
void discard_pending_temp() {
  PendingLocked locked;
  if (pending_temp.set) DeleteFileW(pending_temp.path);
  pending_temp.set = false;
}

}  // namespace imgconv
