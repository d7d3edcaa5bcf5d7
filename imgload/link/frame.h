// Request and reply frames: ENQ "00" "FF" command fields BCC CR out; replies
// in up to 544 bytes ending in CR, judged by their first byte (ACK) or by
// their BCC. The codec and the digit rules; the readers are the link's.
#pragma once

#include <cstdint>

#include "image/hex.h"
#include "imgload/link/protocol.h"

namespace imgload {

enum ReplyStatus : int {
  REPLY_OK = 0,
  REPLY_WAIT = 1,
  REPLY_NAK = -4,
  REPLY_TIMEOUT = -5,
  REPLY_BCC = -6,
};

struct ReaderState {
  int reading;  // 0 idle, 1 reading
  int count;    // bytes stored, 0..FRAME_BUFFER_SIZE
  int late;     // 1 once the countdown ran out while the reply was arriving
};

// How long a reply that is still arriving when its countdown runs out may
// take to reach its CR: as long as one silent read would have been waited
// for. Bytes that go on past it without a CR (noise, a wrong line speed)
// end the reply as a timeout.
constexpr int LATE_REPLY_GRACE = 3;  // seconds of the reply countdown

// Builds ENQ "00" "FF" command fields BCC CR into out (FRAME_BUFFER_SIZE
// bytes). Returns the length, or 0 when the fields do not fit.
int build_frame(std::uint8_t* out, const char command[2], const std::uint8_t* fields,
                int field_count);

// Judges a complete reply of length bytes by its BCC: REPLY_OK (with offsets
// 5 and 6 copied into reply_code) or REPLY_BCC.
ReplyStatus check_reply_bcc(const std::uint8_t* reply, int length, char reply_code[3]);

// The protocol writes digits upper case, as image/hex.h does.
using zp3k::to_hex_digits;
// Two upper-case digits as one byte: 1, or 0 when either is not such a digit
// (lower case is not a digit of this protocol).
int parse_hex_byte(const char* text, std::uint8_t* out);

}  // namespace imgload
