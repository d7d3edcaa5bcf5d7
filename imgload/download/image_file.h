// The image-file seam of the downloader: exclusive open for reading, size
// and block reads. Win32 and POSIX files define these; paths are completed
// and measured by the converter's file seam, one per platform.
#pragma once

#include <cstdint>

namespace imgload {

using FileHandle = std::intptr_t;
constexpr FileHandle INVALID_FILE = -1;

// Opens an existing file for reading, refusing a file another program holds.
FileHandle open_image_file(const char* path);
// Low 32 bits of the size; false on failure.
bool image_file_size(FileHandle file, std::uint32_t* size);
// Bytes read (0 at the end), or -1 on failure.
int read_image_file(FileHandle file, std::uint8_t* buffer, int count);
void close_image_file(FileHandle file);

}  // namespace imgload
