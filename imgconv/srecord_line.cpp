// The S-record line reader and the hexadecimal field readers it uses.
#include "imgconv/srecord_line.h"

#include <cstring>

namespace imgconv {

namespace {

// The digit value of every byte; the data bytes of a record are read through
// this table because they are most of the input.
struct HexTable {
  std::int16_t value[256];
  constexpr HexTable() : value() {
    for (int code = 0; code < 256; ++code) {
      if (code >= 'A' && code <= 'F') {
        value[code] = static_cast<std::int16_t>(code - 'A' + 10);
      } else if (code >= 'a' && code <= 'f') {
        value[code] = static_cast<std::int16_t>(code - 'a' + 10);
      } else {
        // No character is refused: the record checksum is not verified either.
        value[code] = static_cast<std::int16_t>(code - 0x30);
      }
    }
  }
};
constexpr HexTable kHex;

// The byte value of the character, so the result does not depend on whether
// plain char is signed.
inline int digit(char c) { return kHex.value[static_cast<unsigned char>(c)]; }

// Characters before the first CR, LF or NUL.
std::size_t content_length(const char* line) {
  std::size_t length = std::strlen(line);
  if (const void* lf = std::memchr(line, '\n', length)) length = static_cast<const char*>(lf) - line;
  if (const void* cr = std::memchr(line, '\r', length)) length = static_cast<const char*>(cr) - line;
  return length;
}

}  // namespace

int hex_digit_value(char c) { return digit(c); }

std::uint32_t parse_hex32(const char* eight_chars) {
  std::uint32_t value = static_cast<std::uint32_t>(digit(eight_chars[0]));
  for (int i = 1; i < 8; ++i) {
    value = (value << 4) | static_cast<std::uint32_t>(digit(eight_chars[i]));
  }
  return value;
}

void decode_srecord_data(const SRecordLine& rec, std::uint8_t* out) {
  const char* p = rec.data;
  for (std::size_t i = 0; i < rec.data_count; ++i, p += 2) {
    out[i] = static_cast<std::uint8_t>(digit(p[0]) * 16 + digit(p[1]));
  }
}

SRecordLine read_srecord_line(const char* line) {
  SRecordLine rec{RECORD_BAD, 0, 0, nullptr};
  // The content ends at the line feed (and a CR before it, as a POSIX text
  // stream keeps it), or at a NUL that fgets may have stored.
  std::size_t length = content_length(line);
  if (length < 2) return rec;  // a blank line has no record type
  switch (line[1]) {
    case '0':
    case '7':
      rec.kind = RECORD_SKIP;
      return rec;
    case '3':
      break;
    default:
      return rec;
  }
  if (length < SRECORD_DATA_COLUMN) return rec;
  int count = digit(line[2]) * 16 + digit(line[3]);
  if (count < SRECORD_MIN_COUNT) return rec;
  std::size_t data_count = static_cast<std::size_t>(count - SRECORD_MIN_COUNT);
  if (SRECORD_DATA_COLUMN + 2 * data_count > length) return rec;
  rec.kind = RECORD_DATA;
  rec.address = parse_hex32(line + 4);
  rec.data_count = static_cast<std::uint16_t>(data_count);
  rec.data = line + SRECORD_DATA_COLUMN;
  return rec;
}

}  // namespace imgconv
