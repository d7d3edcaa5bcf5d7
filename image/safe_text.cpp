// Valid JSON strings and terminal-safe text from arbitrary bytes.
#include "image/safe_text.h"

#include <cstdio>

namespace zp3k {

namespace {

// The length of the well-formed UTF-8 character at text[i], or 0 when the
// byte there does not start one (RFC 3629: no overlong forms, no surrogates,
// nothing past U+10FFFF).
std::size_t utf8_length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;   // the second byte's bounds
  unsigned char high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // overlong below U+0800
    if (c == 0xED) high = 0x9F;  // surrogates U+D800..U+DFFF
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;   // overlong below U+10000
    if (c == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void append_hex_escape(std::string* out, const char* form, unsigned value) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, form, value);
  *out += escaped;
}

}  // namespace

bool valid_utf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_length(text, i);
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text, i, length);
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      append_hex_escape(&out, "\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
    i += length;
  }
  return out + "\"";
}

std::string hex_bytes(const std::string& text) {
  std::string out;
  for (const char c : text) append_hex_escape(&out, "%02x", static_cast<unsigned char>(c));
  return out;
}

std::string terminal_text(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_length(text, i);
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // C1 controls are U+0080..U+009F: C2 80..C2 9F in UTF-8.
    const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (length == 0 || c < 0x20 || c == 0x7F || c1) {
      const std::size_t count = length == 0 ? 1 : length;
      for (std::size_t k = 0; k < count; ++k) {
        append_hex_escape(&out, "\\x%02x", static_cast<unsigned char>(text[i + k]));
      }
      i += count;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

}  // namespace zp3k
