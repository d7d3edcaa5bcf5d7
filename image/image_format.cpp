// Image file layout helpers: little-endian words, header fields, XOR
// checksum, version text, and the checks of an image read back.
#include "image/image_format.h"

#include <cstring>

#include "image/hex.h"

namespace image {

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

void store_version(std::uint8_t* header, std::uint16_t version) {
  header[HEADER_VERSION] = static_cast<std::uint8_t>(version >> 8);
  header[HEADER_VERSION + 1] = static_cast<std::uint8_t>(version);
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

bool parse_version_text(const char* text, std::uint16_t* value) {
  std::size_t length = std::strlen(text);
  if (length < 4 || length > 6) return false;
  auto is_decimal = [](char c) { return c >= '0' && c <= '9'; };
  if (!is_decimal(text[0]) || text[1] != '.' || !is_decimal(text[2]) || !is_decimal(text[3])) {
    return false;
  }
  unsigned suffix = 0;
  if (length > 4) {
    if (length != 6 || text[4] != '_') return false;
    const int digit = zp3k::hex_value(text[5]);
    if (digit < 0) return false;
    suffix = static_cast<unsigned>(digit);
  }
  *value = static_cast<std::uint16_t>((suffix << 12) | ((text[0] - '0') << 8) |
                                      ((text[2] - '0') << 4) | (text[3] - '0'));
  return true;
}

std::string format_version_text(std::uint16_t version) {
  char digits[5];  // suffix, units, tenths, hundredths
  zp3k::to_hex_digits(version, 4, digits);
  std::string text = {digits[1], '.', digits[2], digits[3]};
  if (digits[0] != '0') text += {'_', digits[0]};
  return text;
}

ImageSummary summarize_image(const std::uint8_t* data, std::size_t size) {
  ImageSummary s;
  s.readable = true;
  s.size = size;
  s.check_value = size % 4 == 0 ? xor_words(data, size) : 0;
  if (size < IMAGE_HEADER_SIZE) return s;
  s.has_header = true;
  s.header = decode_header(data);
  const ImageHeader& h = s.header;
  s.whole_blocks = size <= IMAGE_LIMIT && size % IMAGE_BLOCK_SIZE == 0;
  s.magic_ok = h.magic == IMAGE_MAGIC;
  s.size_ok = s.whole_blocks && h.size == size;
  s.length_ok = s.whole_blocks && h.length == size - IMAGE_CHECKED_FROM;
  if (s.whole_blocks) {
    s.computed_checksum = xor_words(data + IMAGE_CHECKED_FROM, size - IMAGE_CHECKED_FROM);
    s.checksum_ok = h.checksum == s.computed_checksum;
  }
  s.base_ok = h.base_address == 0 || h.base_address == IMAGE_BASE_LOW ||
              h.base_address == IMAGE_BASE_HIGH;
  s.comment_ok = std::memchr(data + HEADER_COMMENT, 0, IMAGE_COMMENT_MAX + 1) != nullptr;
  return s;
}

std::string to_crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 4);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

}  // namespace image
