// Image file layout helpers: little-endian words, header decoding, XOR checksum.
#include "imgconv/image_format.h"

#include <cstring>

namespace imgconv {

std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void store_le32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

ImageHeader decode_header(const std::uint8_t* first64) {
  ImageHeader h{};
  h.magic = load_le32(first64 + HEADER_MAGIC);
  h.length = load_le32(first64 + HEADER_LENGTH);
  h.checksum = load_le32(first64 + HEADER_CHECKSUM);
  h.base_address = load_le32(first64 + HEADER_BASE_ADDRESS);
  h.size = load_le32(first64 + HEADER_SIZE_FIELD);
  h.version = static_cast<std::uint16_t>((first64[HEADER_VERSION] << 8) | first64[HEADER_VERSION + 1]);
  // The comment ends at its NUL; a header without one within 31 bytes is cut
  // to the 30-byte limit so the decoded text always ends in a NUL.
  std::size_t n = 0;
  while (n < IMAGE_COMMENT_MAX && first64[HEADER_COMMENT + n] != 0) {
    h.comment[n] = static_cast<char>(first64[HEADER_COMMENT + n]);
    ++n;
  }
  h.comment[n] = '\0';
  return h;
}

std::uint32_t xor_words(const std::uint8_t* data, std::size_t length, std::uint32_t seed) {
  std::uint32_t sum = seed;
  for (std::size_t i = 0; i + 4 <= length; i += 4) sum ^= load_le32(data + i);
  return sum;
}

}  // namespace imgconv
