// --info: shows the header of an image or header-only file and checks it.
#pragma once

#include <cstdio>

namespace imgconv {

// Prints the header fields and checks of the file at path to out; returns 0
// for a valid image, EXIT_BAD_IMAGE otherwise, EXIT_NO_INPUT when the file
// cannot be read.
int show_image_info(const char* path, std::FILE* out);

}  // namespace imgconv
