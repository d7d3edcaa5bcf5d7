// Hexadecimal digits as every program reads and writes them: a digit's
// value, fixed-width numbers and byte pairs, upper-case digits out, and the
// \xNN form that shows bytes no text can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zp3k {

// Which letters count as digits: the converter's records and the job checks
// take either case, the download protocol upper case only.
enum class HexCase { EITHER, UPPER };

// Value 0..15 of a hex digit, or -1 (lower-case letters only with EITHER).
constexpr int hex_value(char c, HexCase letters = HexCase::EITHER) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (letters == HexCase::EITHER && c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value of count digits at text, most significant first (past eight
// digits the low 32 bits); false at the first character that is not a digit
// (a NUL included), *value then untouched.
bool parse_hex(const char* text, int count, std::uint32_t* value,
               HexCase letters = HexCase::EITHER);
// Two digits, the high one first, as one byte; false when either is not a digit.
bool parse_hex_byte(const char* text, std::uint8_t* out, HexCase letters = HexCase::EITHER);

// The low 4 x count bits of value as upper-case digits, high first, and a NUL
// (out holds count + 1 bytes); digits beyond 32 bits are '0'.
void to_hex_digits(int value, int count, char* out);

// The bytes with each one written as \xNN (upper-case digits); with
// keep_ascii, bytes below 0x80 stand as themselves.
std::string escape_bytes(const char* bytes, std::size_t count, bool keep_ascii = false);

}  // namespace zp3k
