// Reading a file for --info on Windows: the UTF-8 path made UTF-16 for
// CreateFileW, and anything that is not a disk file (a pipe, a console or
// another device) refused at once; a folder cannot be opened this way.
#include <windows.h>

#include "imgconv/cli/image_info.h"
#include "resources/win32_text.h"

namespace imgconv {

bool read_regular_file(const char* path, std::vector<std::uint8_t>* data) {
  HANDLE h = CreateFileW(zp3k::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::size_t size = 0;
  bool ok = GetFileType(h) == FILE_TYPE_DISK;
  while (ok && size < data->size()) {
    DWORD got = 0;
    ok = ReadFile(h, data->data() + size, static_cast<DWORD>(data->size() - size), &got, nullptr) != 0;
    if (got == 0) break;
    size += got;
  }
  CloseHandle(h);
  data->resize(size);
  return ok;
}

}  // namespace imgconv
