// Checks of one row of a download job, shared by the Windows main dialog and
// the Linux command line: path completion, image file size, start address.
#pragma once

#include <cstdint>
#include <vector>

namespace imgload {

int CompletePath(char* path);                 // 1 ok (completed in place), 0 refused
// 0 usable, 1 cannot open or read, 2 wrong size (not whole 2048-byte blocks,
// or larger than any image). A usable file's bytes go to *snapshot if given.
int CheckImageFile(const char* path, std::vector<std::uint8_t>* snapshot = nullptr);
int ParseHex7(const char* text, std::uint32_t* value);
int ParseStartAddress(const char* text, std::uint32_t* address);

}  // namespace imgload
