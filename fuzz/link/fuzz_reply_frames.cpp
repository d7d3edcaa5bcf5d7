// libFuzzer target: arbitrary reply bytes, arriving in pieces with silent
// reads between them, through both reply readers, the reply check and the
// judgements of the "AD" and "AB" replies.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fake_port.h"
#include "imgload/download/status_line.h"
#include "imgload/link/commands.h"
#include "imgload/link/link.h"

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
void run_reader(FakePort& port, imgload::Link& link, bool data_reader) {
  const imgload::ReaderState& state = data_reader ? link.data_reader() : link.plain_reader();
  for (int calls = 0; calls < MAX_CALLS; ++calls) {
    const imgload::ReplyStatus status = data_reader ? link.read_data_reply() : link.read_reply();
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
      if (port.pending_bytes() == 0) return;
      link.countdown().set(3);  // the rest comes as a new reply
      continue;
    }
    require(link.reply()[state.count - 1] == imgload::CR ||
            state.count == imgload::FRAME_BUFFER_SIZE);
    if (status == imgload::REPLY_OK && data_reader) {
      require(state.count >= 10);
      require(std::memcmp(link.reply_code(), link.reply() + 5, 2) == 0);
      const std::uint32_t addresses[3] = {0x8000, 0x100000, 0};
      int refused = 0;
      const imgload::Judgement model = imgload::judge_model_reply(link, status, addresses, 3, &refused);
      require(model == imgload::JUDGE_ACCEPTED || model == imgload::JUDGE_BAD_MODEL ||
              (model == imgload::JUDGE_NO_EXTERNAL && refused == 2));
      const imgload::Judgement mode = imgload::judge_mode_reply(link, status, "06");
      require(mode == imgload::JUDGE_ACCEPTED || mode == imgload::JUDGE_OTHER_MODE);
    }
    if (!data_reader) {
      require((status == imgload::REPLY_OK) == (link.reply()[0] == imgload::ACK));
    }
    link.countdown().set(3);
  }
  std::abort();  // a reader that never finishes
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static VirtualClock clock;
  FakePort port;
  const std::uint8_t seed = data[0];
  ++data;
  --size;

  // The whole input as one stored reply.
  char code[3] = {};
  const int judged =
      imgload::check_reply_bcc(data, static_cast<int>(size > 4096 ? 4096 : size), code);
  require(judged == imgload::REPLY_OK || judged == imgload::REPLY_BCC);

  for (int reader = 0; reader < 2; ++reader) {
    port.reset();
    port.attach_clock(&clock);
    imgload::ReplyCountdown countdown;
    clock.attach_countdown(&countdown);
    imgload::Link link(port, countdown);
    require(link.open("COM1", 9600).ok());
    countdown.set(3);
    script(port, seed, data, size);
    run_reader(port, link, reader == 1);
    require(port.pending_bytes() == 0);
    clock.attach_countdown(nullptr);
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
