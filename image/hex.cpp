// Hexadecimal digits: fixed-width numbers and byte pairs in, upper-case
// digits and \xNN escapes out.
#include "image/hex.h"

namespace zp3k {

namespace {
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
}  // namespace

bool parse_hex(const char* text, int count, std::uint32_t* value, HexCase letters) {
  std::uint32_t v = 0;
  for (int k = 0; k < count; ++k) {
    const int digit = hex_value(text[k], letters);  // the NUL ends a short text here
    if (digit < 0) return false;
    v = v << 4 | static_cast<std::uint32_t>(digit);
  }
  *value = v;
  return true;
}

bool parse_hex_byte(const char* text, std::uint8_t* out, HexCase letters) {
  std::uint32_t value = 0;
  if (!parse_hex(text, 2, &value, letters)) return false;
  *out = static_cast<std::uint8_t>(value);
  return true;
}

void to_hex_digits(int value, int count, char* out) {
  const unsigned bits = static_cast<unsigned>(value);
  for (int i = 0; i < count; ++i) {
    const int shift = 4 * (count - 1 - i);
    out[i] = shift < 32 ? HEX_DIGITS[(bits >> shift) & 0xF] : '0';
  }
  out[count < 0 ? 0 : count] = '\0';
}

std::string escape_bytes(const char* bytes, std::size_t count, bool keep_ascii) {
  std::string shown;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (keep_ascii && c < 0x80) {
      shown += static_cast<char>(c);
      continue;
    }
    char escape[5] = {'\\', 'x'};
    to_hex_digits(c, 2, escape + 2);
    shown += escape;
  }
  return shown;
}

}  // namespace zp3k
