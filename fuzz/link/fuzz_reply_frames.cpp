// libFuzzer target: arbitrary reply bytes, arriving in pieces with silent
// reads between them, through both reply readers, the reply check and the
// judgements of the "AD" and "AB" replies.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fake_port.h"
#include "imgload/download/status.h"
#include "imgload/link/commands.h"
#include "imgload/link/countdown.h"
#include "imgload/link/frame.h"

namespace {

using imgload::testing::Bytes;
using imgload::testing::FakePort;
using imgload::testing::VirtualClock;

constexpr int MAX_CALLS = 100000;  // reader calls per input; silence ends it far sooner

void require(bool condition) {
  if (!condition) std::abort();
}

// Feeds data in pieces of 1..16 bytes (sizes taken from the seed), with a
// silent read after each piece, under a countdown of a few seconds.
void script(FakePort& port, std::uint8_t seed, const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  unsigned step = seed;
  while (at < size) {
    const std::size_t piece = std::min<std::size_t>(size - at, (step % 16) + 1);
    port.queue_bytes(Bytes(data + at, data + at + piece));
    if (step & 0x80) port.queue_empty_read();
    at += piece;
    step = step * 33 + 7;
  }
}

// Runs one reader until the script is used up and the reader is idle, and
// checks every result it gives.
void run_reader(int (*reader)(), const imgload::ReaderState& state, bool data_reader) {
  for (int calls = 0; calls < MAX_CALLS; ++calls) {
    const int status = reader();
    require(state.count >= 0 && state.count <= imgload::FRAME_BUFFER_SIZE);
    if (status == imgload::REPLY_WAIT) {
      require(state.reading == 1);
      continue;
    }
    require(state.reading == 0);
    if (data_reader) {
      require(status == imgload::REPLY_OK || status == imgload::REPLY_TIMEOUT ||
              status == imgload::REPLY_BCC);
    } else {
      require(status == imgload::REPLY_OK || status == imgload::REPLY_NAK ||
              status == imgload::REPLY_TIMEOUT);
    }
    if (status == imgload::REPLY_TIMEOUT) {
      if (FakePort::get().pending_bytes() == 0) return;
      imgload::reply_countdown.set(3);  // the rest comes as a new reply
      continue;
    }
    require(imgload::frames.reply[state.count - 1] == imgload::CR ||
            state.count == imgload::FRAME_BUFFER_SIZE);
    if (status == imgload::REPLY_OK && data_reader) {
      require(state.count >= 10);
      require(std::memcmp(imgload::frames.reply_code, imgload::frames.reply + 5, 2) == 0);
      const std::uint32_t addresses[3] = {0x8000, 0x100000, 0};
      const imgload::Judgement model = imgload::judge_model_reply(status, addresses, 3);
      require(model == imgload::JUDGE_ACCEPTED || model == imgload::JUDGE_STOPPED);
      const imgload::Judgement mode = imgload::judge_mode_reply(status, "06");
      require(mode == imgload::JUDGE_ACCEPTED || mode == imgload::JUDGE_OTHER_MODE);
    }
    if (!data_reader) {
      require((status == imgload::REPLY_OK) == (imgload::frames.reply[0] == imgload::ACK));
    }
    imgload::reply_countdown.set(3);
  }
  std::abort();  // a reader that never finishes
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static VirtualClock clock;
  FakePort& port = FakePort::get();
  const std::uint8_t seed = data[0];
  ++data;
  --size;

  // The whole input as one stored reply.
  const int judged = imgload::check_reply_bcc(data, static_cast<int>(size > 4096 ? 4096 : size));
  require(judged == imgload::REPLY_OK || judged == imgload::REPLY_BCC);

  for (int reader = 0; reader < 2; ++reader) {
    imgload::reset_frames();
    port.reset();
    port.attach_clock(&clock);
    imgload::serial_port.handle = imgload::open_port("COM1", 9600, 8, 2, 0);
    imgload::reply_countdown.set(3);
    script(port, seed, data, size);
    if (reader == 0) {
      run_reader(imgload::read_reply, imgload::frames.plain, false);
    } else {
      run_reader(imgload::read_data_reply, imgload::frames.data, true);
    }
    require(port.pending_bytes() == 0);
    imgload::close_port(imgload::serial_port.handle);
  }

  // The hexadecimal digit rules over every pair of the input.
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    std::uint8_t value = 0;
    const char pair[2] = {static_cast<char>(data[i]), static_cast<char>(data[i + 1])};
    if (imgload::parse_hex_byte(pair, &value) == 1) {
      char back[3];
      imgload::to_hex_digits(value, 2, back);
      require(back[0] == pair[0] && back[1] == pair[1]);
    }
  }
  return 0;
}
