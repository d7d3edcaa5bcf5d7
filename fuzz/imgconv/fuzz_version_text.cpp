// Fuzzes the version text reader: an accepted text must rebuild from its value.
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/hex.h"
#include "imgconv/convert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // cut at an inner NUL by c_str
  std::uint16_t value = 0;
  if (!image::parse_version_text(text.c_str(), &value)) return 0;
  const char* t = text.c_str();
  std::size_t n = std::strlen(t);
  if (n != 4 && n != 6) std::abort();
  if (((value >> 8) & 0xF) != static_cast<unsigned>(t[0] - '0') || t[1] != '.' ||
      ((value >> 4) & 0xF) != static_cast<unsigned>(t[2] - '0') ||
      (value & 0xF) != static_cast<unsigned>(t[3] - '0')) {
    std::abort();
  }
  if (((value >> 8) & 0xF) > 9 || ((value >> 4) & 0xF) > 9 || (value & 0xF) > 9) std::abort();
  unsigned suffix = value >> 12;
  if (n == 4 && suffix != 0) std::abort();
  if (n == 6 && (t[4] != '_' || static_cast<unsigned>(zp3k::hex_value(t[5])) != suffix)) std::abort();
  return 0;
}
