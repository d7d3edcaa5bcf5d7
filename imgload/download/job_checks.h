// Checks of one row of a download job, shared by the Windows main dialog and
// the Linux command line: path completion, image file size, start address.
#pragma once

#include <cstdint>

namespace imgload {

int CompletePath(char* path);                 // 1 ok (completed in place), 0 refused
int CheckImageFile(const char* path);         // 0 usable, 1 cannot open, 2 wrong size
int ParseHex7(const char* text, std::uint32_t* value);
int ParseStartAddress(const char* text, std::uint32_t* address);

}  // namespace imgload
