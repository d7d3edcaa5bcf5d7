// Win32 file seam of the converter: the core's UTF-8 paths become UTF-16 for
// FindFirstFileW, DeleteFileW, CreateFileW and MoveFileExW, so any file the
// system can name is found, whatever the ANSI code page; the pending
// temporary file for a console event's clean-up; GetLastError in the words
// of the POSIX programs.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "imgconv/convert.h"  // PATH_BUFFER_SIZE
#include "imgconv/file_services.h"
#include "resources/win32_text.h"

namespace imgconv {
namespace {

// A source refused because it is no disk file: an application's own error
// code (bit 29 set), which no system error can be.
constexpr DWORD ERROR_NOT_DISK_FILE = 0x20000001;

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

// Shared as _wfopen shares; anything GetFileType does not call a disk file
// (a pipe, a console or another device) is refused at once. A folder cannot
// be opened this way at all.
std::FILE* win32_open_source(const char* path) {
  HANDLE h = CreateFileW(zp3k::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    SetLastError(ERROR_NOT_DISK_FILE);
    return nullptr;
  }
  return stream_of(h, _O_RDONLY | _O_TEXT, "rt");
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
const char* error_words(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: case ERROR_BAD_NET_NAME: return "No such file or directory";
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_WRITE_PROTECT: return "Read-only file system";
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    case ERROR_FILENAME_EXCED_RANGE: return "File name too long";
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return "File exists";
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: return "Cannot allocate memory";
    case ERROR_READ_FAULT: case ERROR_WRITE_FAULT: case ERROR_CRC: case ERROR_SECTOR_NOT_FOUND:
      return "Input/output error";
    case ERROR_NEGATIVE_SEEK: case ERROR_SEEK_ON_DEVICE: return "Illegal seek";
    case ERROR_DIRECTORY: return "Not a directory";
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: return "in use by another program";
    case ERROR_INVALID_NAME: case ERROR_BAD_PATHNAME: return "not a valid file name";
    case ERROR_NOT_DISK_FILE: return "not a regular file";
    default: return nullptr;
  }
}

void win32_failure_reason(char* reason, std::size_t size) {
  const DWORD error = GetLastError();
  if (size == 0) return;
  const char* words = error_words(error);
  if (words != nullptr) {
    std::snprintf(reason, size, "%s", words);
  } else {
    std::snprintf(reason, size, "Windows error %lu", static_cast<unsigned long>(error));
  }
}

}  // namespace

FileServices platform_file_services() {
  return {win32_file_exists, win32_delete_file, win32_open_source, win32_create_temp,
          win32_move_into_place, true, win32_failure_reason};
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
