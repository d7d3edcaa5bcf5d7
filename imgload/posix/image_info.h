// What the Linux command line shows of an image file before it is sent: the
// header fields (version, comment, base, size) and whether the checksum
// over the file verifies.
#pragma once

#include <cstdint>
#include <string>

namespace imgload {

struct ImageInfo {
  bool readable = false;     // the file could be read whole
  bool has_magic = false;    // the first word is the image magic
  std::uint32_t length = 0;
  std::uint32_t checksum = 0;
  std::uint32_t base_address = 0;
  std::uint32_t size = 0;
  std::string version;       // "1.23" or "1.23_A"
  std::string comment;       // in UTF-8, line breaks as they are
  bool checksum_verifies = false;
  std::uint32_t check_value = 0;  // XOR of every word: what the end request will carry
};

ImageInfo read_image_info(const char* path);
// The comment bytes (cp932) as UTF-8; bytes that do not convert become '?'.
std::string cp932_to_utf8(const std::string& bytes);

}  // namespace imgload
