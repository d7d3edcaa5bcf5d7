// The converter's file seam: absolute path, existence, delete, and opening the
// source and output streams. One implementation per platform; tests swap the
// table to put a failing stream behind the engine.
#pragma once

#include <cstddef>
#include <cstdio>

namespace imgconv {

struct FileServices {
  // The absolute path of name against the current directory, NUL-terminated;
  // false when it cannot be made or would not fit out_size bytes.
  bool (*full_path)(const char* name, char* out, std::size_t out_size);
  // True when a file of that path exists.
  bool (*file_exists)(const char* path);
  // Removes the file; false when that failed.
  bool (*delete_file)(const char* path);
  // The source for reading as text lines ("rt"); nullptr on failure.
  std::FILE* (*open_source)(const char* path);
  // The output, created or truncated, for writing and reading back ("w+b").
  std::FILE* (*open_output)(const char* path);
  // True where ':' marks a drive letter (Windows): a source path holding one
  // puts the output beside the source. Elsewhere ':' is an ordinary
  // character and the output always goes into the current directory.
  bool drive_letters;
  // The length of a UTF-8 path as the file system counts it: UTF-16 units on
  // Windows, bytes on POSIX.
  std::size_t (*path_length)(const char* path);
};

// The platform's implementation (posix/ or win32/).
extern const FileServices platform_file_services;

// What the engine uses; points at platform_file_services unless a test swaps it.
extern const FileServices* file_services;

}  // namespace imgconv
