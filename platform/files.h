// Regular files read the one way every program reads its input (S-record
// sources, images, job files): opened without waiting, refused at once when
// they are no regular file (a FIFO, a device, a folder), held against other
// programs as the caller asks; and the words of a failure. One implementation
// per platform (posix/ or win32/files.cpp) under the portable part
// (files.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/status.h"

namespace zp3k {

// Who else may have the file while it is read.
enum class Sharing {
  WITH_WRITERS,  // readers and writers alike (a converter's source an editor holds)
  READERS_ONLY,  // other readers, no writer: what is read is one version of the file
  ALONE,         // nobody (Windows; on POSIX as READERS_ONLY, under a shared flock)
};

// The regular file at path as a stream for reading ("rt" when text, on
// Windows with its line-end translation; "rb" otherwise); null with *status
// telling why. A FIFO, a device or a folder is refused as WRONG_KIND, a file
// held against the sharing asked as IN_USE.
std::FILE* open_regular_file(const char* path, Sharing sharing, bool text, Status* status);

// At most limit bytes of the regular file at path into *bytes (cleared
// first), under one opening; TOO_LARGE when more follow (the first limit
// bytes kept, so that a header can still be shown), READ_FAILED when a read
// fails.
Status read_regular_file(const char* path, Sharing sharing, std::size_t limit,
                         std::vector<std::uint8_t>* bytes);

// The words of a failure, in English: the system's for its error code, or
// the kind's own ("not a regular file", "locked by another program").
std::string status_words(const Status& status);

// The system's words for one of its error codes (errno, GetLastError), in
// English whatever the user's language, as the glosses are.
std::string system_error_words(int error);

}  // namespace zp3k
