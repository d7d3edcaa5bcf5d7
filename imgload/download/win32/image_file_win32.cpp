// The image-file seam on Windows: CreateFileW with share mode 0 for the
// dialog, so a file another program holds is refused, or FILE_SHARE_READ for
// the command line, so other readers may hold it and no writer can. The core's paths are UTF-8; the system is
// given them in UTF-16, so any file it can name is found, whatever the ANSI
// code page.
#include <windows.h>

#include "imgload/download/image_file.h"
#include "resources/win32_text.h"

namespace imgload {

namespace {

HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

DWORD share_mode(FileSharing sharing) { return sharing == FileSharing::SHARED_READ ? FILE_SHARE_READ : 0; }

}  // namespace

FileHandle open_image_file(const char* path, FileSharing sharing) {
  if (path == nullptr) return INVALID_FILE;
  HANDLE handle = CreateFileW(zp3k::widen(path).c_str(), GENERIC_READ, share_mode(sharing), nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return INVALID_FILE;
  // A pipe or a device is no image file, even where the system opens it.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return INVALID_FILE;
  }
  return reinterpret_cast<FileHandle>(handle);
}

bool image_file_size(FileHandle file, std::uint64_t* size) {
  LARGE_INTEGER whole;
  if (file == INVALID_FILE || !GetFileSizeEx(to_handle(file), &whole) || whole.QuadPart < 0) {
    return false;
  }
  *size = static_cast<std::uint64_t>(whole.QuadPart);
  return true;
}

int read_image_file(FileHandle file, std::uint8_t* buffer, int count) {
  DWORD got = 0;
  if (file == INVALID_FILE || count < 0 ||
      !ReadFile(to_handle(file), buffer, static_cast<DWORD>(count), &got, nullptr)) {
    return -1;
  }
  return static_cast<int>(got);
}

void close_image_file(FileHandle file) {
  if (file != INVALID_FILE) CloseHandle(to_handle(file));
}

std::string image_file_open_reason(const char* path, FileSharing sharing) {
  const std::wstring wide = zp3k::widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? "No such file or directory"
               : error == ERROR_ACCESS_DENIED ? "Permission denied" : "cannot be read";
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "Is a directory";
  HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ, share_mode(sharing), nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
               ? "locked by another program"
               : error == ERROR_ACCESS_DENIED ? "Permission denied" : "cannot be read";
  }
  const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  CloseHandle(handle);
  return disk ? "cannot be read" : "not a regular file";
}

}  // namespace imgload
