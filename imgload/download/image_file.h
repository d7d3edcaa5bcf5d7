// The files-and-paths seam of the downloader: absolute path, exclusive open
// for reading, size and block reads. Win32 and POSIX files define these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imgload {

using FileHandle = std::intptr_t;
constexpr FileHandle INVALID_FILE = -1;

// Absolute path of name against the current directory; false when it fails
// or would not fit out_size.
bool full_path(const char* name, char* out, int out_size);
// The length of a UTF-8 path as the file system counts it: UTF-16 units on
// Windows, bytes on POSIX.
std::size_t path_length(const char* path);
// Opens an existing file for reading, refusing a file another program holds.
FileHandle open_image_file(const char* path);
// Low 32 bits of the size; false on failure.
bool image_file_size(FileHandle file, std::uint32_t* size);
// Bytes read (0 at the end), or -1 on failure.
int read_image_file(FileHandle file, std::uint8_t* buffer, int count);
void close_image_file(FileHandle file);

}  // namespace imgload
