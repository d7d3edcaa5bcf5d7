// The operator's lines on standard input (a unit id typed, or scanned by a
// barcode scanner that types one and Enter), read without the C library's
// streams. One implementation per platform (posix/ or win32/).
#pragma once

#include <string>

namespace imgload {

// Waits for more of standard input and appends it to pending, in UTF-8 (a
// Windows console's characters converted). False at the end of the input,
// or when it cannot be read. Called by one thread only.
bool read_more_input(std::string* pending);

}  // namespace imgload
