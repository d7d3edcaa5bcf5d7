// Request and reply frames: ENQ "00" "FF" command fields BCC CR out, and two
// reply readers (plain: first byte ACK; data: BCC) polled under the reply
// countdown, each with its own state, sharing one 544-byte reply buffer.
#pragma once

#include <cstdint>

namespace imgload {

constexpr int FRAME_BUFFER_SIZE = 544;  // bytes
constexpr std::uint8_t ENQ = 0x05;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t CR = 0x0D;

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

// Frame buffers and reader states: one for the whole program.
struct FrameState {
  std::uint8_t transmit[FRAME_BUFFER_SIZE];
  std::uint8_t reply[FRAME_BUFFER_SIZE];
  char reply_code[3];
  ReaderState plain;
  ReaderState data;
};
extern FrameState frames;
void reset_frames();

// Builds ENQ "00" "FF" command fields BCC CR in the transmit buffer and
// writes it with one write_port on serial_port.handle. Returns the length.
int send_frame(const char command[2], const std::uint8_t* fields, int field_count);

int read_reply();
int read_data_reply();
int check_reply_bcc(const std::uint8_t* reply, int length);

void to_hex_digits(int value, int count, char* out);
int parse_hex_byte(const char* text, std::uint8_t* out);

}  // namespace imgload
