// Frames and replies for tests that need arbitrary ones (the simulator's
// tables, data requests of any content): the bytes given, their BCC as two
// upper-case digits, and CR. Tests of the BCC itself compare with frames
// written out whole, so that a wrong BCC in the code is caught.
#pragma once

#include <string>

namespace imgload {
namespace testing {

inline std::string with_bcc(const std::string& head) {
  unsigned bcc = 0;
  for (unsigned char c : head) bcc ^= c;
  const char* hex = "0123456789ABCDEF";
  return head + hex[bcc >> 4] + hex[bcc & 0xF] + '\r';
}

}  // namespace testing
}  // namespace imgload
