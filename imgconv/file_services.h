// The converter's file seam: existence, delete, opening the source, the
// output's temporary file and its move into place, and the system's reason
// for a failure (paths: image/paths.h). One implementation per platform;
// tests give a converter a table with a failing stream behind it.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/status.h"

namespace imgconv {

struct FileServices {
  // True when a file of that path exists.
  bool (*file_exists)(const char* path);
  // Removes the file; false when that failed.
  bool (*delete_file)(const char* path);
  // The source for reading as text lines ("rt"); nullptr on failure, with
  // *status telling why, also at once for what is not a regular file (FIFO,
  // device, directory). An editor may have it open meanwhile.
  std::FILE* (*open_source)(const char* path, zp3k::Status* status);
  // A new, empty temporary file in the folder of the output path, for
  // writing and reading back ("w+b"); its path is stored in temp_path
  // (temp_size bytes). nullptr on failure. Until it is moved into place or
  // deleted, an interrupted program removes it (POSIX: SIGINT, SIGTERM,
  // SIGHUP and SIGQUIT; Windows: see discard_pending_temp).
  std::FILE* (*create_temp)(const char* output_path, char* temp_path, std::size_t temp_size);
  // Moves the closed temporary file to the output path in one step,
  // replacing a file or symbolic link of that name (a link is not followed).
  // False when that failed; the temporary file is then still there.
  bool (*move_into_place)(const char* temp_path, const char* output_path);
  // True where ':' marks a drive letter (Windows): a source path holding one
  // puts the output beside the source. Elsewhere ':' is an ordinary
  // character and the output always goes into the current directory.
  bool drive_letters;
  // The system's error code of the failure just seen (errno, GetLastError):
  // of the last call of this table that failed, or of a stream read, write,
  // seek or close that did. Called right after the failure, before other calls.
  int (*last_error)();
};

// The platform's implementation (posix/ or win32/), handed to a Converter.
FileServices platform_file_services();

// Removes the temporary file of the operation under way, if there is one, so
// that it is never moved into place: for a front end that ends the program
// from another thread (a Windows console event). Uses no heap memory; the
// file is gone at the latest when the program has ended.
void discard_pending_temp();

}  // namespace imgconv
