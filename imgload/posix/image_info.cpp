// Reading an image file's header and checking its XOR checksum for the
// Linux command line's file summary.
#include "imgload/posix/image_info.h"

#include <iconv.h>

#include <cerrno>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace imgload {

namespace {

constexpr std::uint32_t IMAGE_MAGIC = 0x12345678;
constexpr std::size_t HEADER_BYTES = 64;       // bytes
constexpr std::size_t CHECKSUM_FROM = 12;      // bytes: magic, length, checksum left out
constexpr std::size_t COMMENT_OFFSET = 32;
constexpr std::size_t COMMENT_MAX = 31;        // bytes with the NUL
constexpr std::size_t FILE_LIMIT = 0x200000;   // bytes, the largest image

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::string cp932_to_utf8(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  std::vector<char> in(bytes.begin(), bytes.end());
  char* src = in.data();
  std::size_t left = in.size();
  char buffer[256];
  while (left > 0) {
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += '?';  // a byte that is not cp932: skip it
      ++src;
      --left;
    }
  }
  iconv_close(cd);
  return out;
}

ImageInfo read_image_info(const char* path) {
  ImageInfo info;
  std::ifstream in(path, std::ios::binary);
  if (!in) return info;
  std::vector<std::uint8_t> data;
  data.reserve(FILE_LIMIT);
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    data.insert(data.end(), chunk, chunk + in.gcount());
    if (data.size() > FILE_LIMIT) break;
  }
  if (data.size() < HEADER_BYTES || data.size() % 4 != 0 || data.size() > FILE_LIMIT) {
    info.readable = data.size() >= HEADER_BYTES;
  } else {
    info.readable = true;
  }
  if (data.size() < HEADER_BYTES) return info;
  const std::uint8_t* h = data.data();
  info.has_magic = le32(h) == IMAGE_MAGIC;
  info.length = le32(h + 4);
  info.checksum = le32(h + 8);
  info.base_address = le32(h + 16);
  info.size = le32(h + 20);
  const unsigned version = static_cast<unsigned>(h[24]) << 8 | h[25];
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u%u", (version >> 8) & 0xF, (version >> 4) & 0xF,
                version & 0xF);
  info.version = text;
  if ((version >> 12) != 0) {
    std::snprintf(text, sizeof text, "_%X", version >> 12);
    info.version += text;
  }
  std::string comment;
  for (std::size_t i = 0; i < COMMENT_MAX && h[COMMENT_OFFSET + i] != 0; ++i) {
    comment += static_cast<char>(h[COMMENT_OFFSET + i]);
  }
  info.comment = cp932_to_utf8(comment);
  if (data.size() % 4 == 0) {
    std::uint32_t sum = 0;
    std::uint32_t all = 0;
    for (std::size_t i = 0; i < data.size(); i += 4) {
      const std::uint32_t w = le32(h + i);
      all ^= w;
      if (i >= CHECKSUM_FROM) sum ^= w;
    }
    info.check_value = all;
    info.checksum_verifies = info.has_magic && sum == info.checksum &&
                             info.length == data.size() - CHECKSUM_FROM && info.size == data.size();
  }
  return info;
}

}  // namespace imgload
