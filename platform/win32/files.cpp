// Regular files on Windows: CreateFileW with the sharing asked (the core's
// UTF-8 path made UTF-16, so any file the system can name is found),
// refused unless a disk file; GetLastError in the words of the POSIX
// programs where there are such words, the system's own otherwise.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/files.h"
#include "platform/utf16.h"

namespace zp3k {

namespace {

DWORD share_mode(Sharing sharing) {
  switch (sharing) {
    case Sharing::WITH_WRITERS: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    case Sharing::READERS_ONLY: return FILE_SHARE_READ;
    case Sharing::ALONE: break;
  }
  return 0;
}

Status failed_open(const std::wstring& path, DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return {Result::NOT_FOUND, static_cast<int>(error)};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return {Result::IN_USE, 0};
    case ERROR_ACCESS_DENIED: {
      // A folder cannot be opened this way: said as what it is.
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {Result::WRONG_KIND, 0};
      }
      return {Result::NO_ACCESS, static_cast<int>(error)};
    }
    default: return {Result::FAILED, static_cast<int>(error)};
  }
}

// The system's own text of an error code, on one line, without its full stop.
std::string system_text(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = text != nullptr ? narrow_lossy(text, units) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "Windows error " + std::to_string(error) : words;
}

}  // namespace

std::FILE* open_regular_file(const char* path, Sharing sharing, bool text, Status* status) {
  const std::wstring wide = widen(path);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, share_mode(sharing), nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *status = failed_open(wide, GetLastError());
    return nullptr;
  }
  // A pipe, a console or another device is no regular file, even where the
  // system opens it.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    *status = {Result::WRONG_KIND, 0};
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | (text ? _O_TEXT : _O_BINARY));
  if (fd < 0) {
    CloseHandle(h);
    *status = {Result::FAILED, 0};
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, text ? "rt" : "rb");
  if (file == nullptr) {
    _close(fd);
    *status = {Result::FAILED, 0};
    return nullptr;
  }
  *status = Status{};
  return file;
}

std::string system_error_words(int code) {
  const DWORD error = static_cast<DWORD>(code);
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
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: return "locked by another program";
    case ERROR_INVALID_NAME: case ERROR_BAD_PATHNAME: return "not a valid file name";
    default: return system_text(error);
  }
}

}  // namespace zp3k
