// The frame codec: request frames out, the BCC and the hexadecimal digit rules.
#include "imgload/link/frame.h"

#include <cstring>

namespace imgload {

namespace {

constexpr int FRAME_OVERHEAD = 10;  // bytes: ENQ, station, reserved, command, BCC, CR
constexpr int MAX_FIELD_BYTES = FRAME_BUFFER_SIZE - FRAME_OVERHEAD;  // bytes

}  // namespace

int build_frame(std::uint8_t* out, const char command[2], const std::uint8_t* fields,
                int field_count) {
  if (field_count < 0 || field_count > MAX_FIELD_BYTES) return 0;
  int n = 0;
  out[n++] = ENQ;
  out[n++] = '0';
  out[n++] = '0';
  out[n++] = 'F';
  out[n++] = 'F';
  out[n++] = static_cast<std::uint8_t>(command[0]);
  out[n++] = static_cast<std::uint8_t>(command[1]);
  if (field_count > 0) std::memcpy(out + n, fields, static_cast<std::size_t>(field_count));
  n += field_count;
  std::uint8_t bcc = 0;
  for (int i = 0; i < n; ++i) bcc ^= out[i];
  char digits[3];
  to_hex_digits(bcc, 2, digits);
  out[n++] = static_cast<std::uint8_t>(digits[0]);
  out[n++] = static_cast<std::uint8_t>(digits[1]);
  out[n++] = CR;
  return n;
}

ReplyStatus check_reply_bcc(const std::uint8_t* reply, int length, char reply_code[3]) {
  // Too short to hold a reply code in front of its BCC: refused, so that no
  // byte outside the reply (left over from an earlier one) is taken for it.
  if (reply == nullptr || length < MIN_CODED_REPLY) return REPLY_BCC;
  std::uint8_t bcc = 0;
  for (int i = 0; i <= length - 4; ++i) bcc ^= reply[i];
  char digits[3];
  to_hex_digits(bcc, 2, digits);
  if (reply[length - 3] != static_cast<std::uint8_t>(digits[0]) ||
      reply[length - 2] != static_cast<std::uint8_t>(digits[1])) {
    return REPLY_BCC;
  }
  reply_code[0] = static_cast<char>(reply[5]);
  reply_code[1] = static_cast<char>(reply[6]);
  reply_code[2] = '\0';
  return REPLY_OK;
}

int parse_hex_byte(const char* text, std::uint8_t* out) {
  return zp3k::parse_hex_byte(text, out, zp3k::HexCase::UPPER) ? 1 : 0;
}

}  // namespace imgload
