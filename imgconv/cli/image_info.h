// --info: shows the header of an image or header-only file and checks it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace imgconv {

// Prints the header fields and checks of the file at path to out; returns 0
// for a valid image, EXIT_BAD_IMAGE otherwise, EXIT_NO_INPUT when the file
// cannot be read.
int show_image_info(const char* path, std::FILE* out);

// Reads at most data->size() bytes of the regular file at path (UTF-8) and
// cuts data to what was read; false when it is no regular file or cannot be
// read. One implementation per platform (posix/ or win32/).
bool read_regular_file(const char* path, std::vector<std::uint8_t>* data);

}  // namespace imgconv
