// Paths as both programs complete and measure them: the full path of a name
// against the current directory and a path's length as the file system
// counts it. One implementation per platform (posix/ or win32/).
#pragma once

#include <cstddef>

namespace zp3k {

constexpr int PATH_LIMIT = 519;  // file-system units a path may hold

// The absolute path of name against the current directory, NUL-terminated;
// false when it cannot be made or would not fit out_size bytes.
bool full_path(const char* name, char* out, std::size_t out_size);

// The length of a UTF-8 path as the file system counts it: UTF-16 units on
// Windows, bytes on POSIX.
std::size_t path_length(const char* path);

}  // namespace zp3k
