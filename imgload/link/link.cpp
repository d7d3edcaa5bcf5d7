// The serial link of one download: opening and closing the port, sending
// request frames and the two reply readers polled under the reply countdown,
// each with its own state, sharing one 544-byte reply buffer.
#include "imgload/link/link.h"

namespace imgload {

LinkTrace& no_link_trace() {
  static LinkTrace none;
  return none;
}

zp3k::Status Link::open(const char* name, std::uint32_t baud_rate) {
  close();
  const zp3k::Status opened = port_.open(name, link_settings(baud_rate));
  trace_.port_opened(name, baud_rate, opened.ok());
  return opened;
}

void Link::close() {
  if (!port_.is_open()) return;
  port_.close();
  trace_.port_closed();
}

int Link::send_frame(const char command[2], const std::uint8_t* fields, int field_count) {
  const int length = build_frame(transmit_, command, fields, field_count);
  if (length == 0) return 0;
  // A reader in the middle of a reply keeps its bytes; otherwise whatever
  // waits unread came too late for the request it answered.
  if (!plain_.reading && !data_.reading) {
    const int discarded = port_.discard_input();
    if (discarded != 0) trace_.input_discarded(discarded);
  }
  last_command_[0] = command[0];
  last_command_[1] = command[1];
  read_failed_ = false;
  port_.write(transmit_, length);  // a short write shows up as a missing reply
  trace_.frame_sent(transmit_, length);
  return length;
}

// Reads bytes one at a time into the reply buffer until CR, under the
// countdown; shared by both readers, each passing its own state.
Link::FrameProgress Link::read_frame(ReaderState& state) {
  if (!state.reading) {
    state.count = 0;
    state.reading = 1;
    state.late = 0;
  }
  for (;;) {
    std::uint8_t byte = 0;
    const int got = port_.read(&byte, 1);
    if (got < 0) {
      // The line has failed (hung up, device gone): no reply will come, so
      // the reply ends now instead of after the rest of its countdown.
      state.reading = 0;
      read_failed_ = true;
      return FRAME_TIMED_OUT;
    }
    if (got == 0) {
      // Silence: the countdown decides whether to wait on.
      if (!countdown_.expired()) return FRAME_PENDING;
      state.reading = 0;
      return FRAME_TIMED_OUT;
    }
    if (state.count < FRAME_BUFFER_SIZE) reply_[state.count++] = byte;
    if (byte == CR) {
      state.reading = 0;
      if (state.late) countdown_.set(0);  // the grace is over with the reply
      return FRAME_COMPLETE;
    }
    // Bytes that keep coming must not hold the reader for ever: once the
    // countdown has run out, the reply gets the grace to reach its CR.
    if (countdown_.expired()) {
      if (state.late) {
        state.reading = 0;
        return FRAME_TIMED_OUT;
      }
      state.late = 1;
      countdown_.set(LATE_REPLY_GRACE);
    }
  }
}

// A reply the reader finished, told to the trace.
ReplyStatus Link::reply_ended(ReplyStatus status, const ReaderState& state) {
  trace_.reply_read(reply_, state.count, status);
  return status;
}

ReplyStatus Link::read_reply() {
  const FrameProgress progress = read_frame(plain_);
  if (progress == FRAME_PENDING) return REPLY_WAIT;
  if (progress == FRAME_TIMED_OUT) return reply_ended(REPLY_TIMEOUT, plain_);
  return reply_ended(reply_[0] == ACK ? REPLY_OK : REPLY_NAK, plain_);
}

ReplyStatus Link::read_data_reply() {
  const FrameProgress progress = read_frame(data_);
  if (progress == FRAME_PENDING) return REPLY_WAIT;
  if (progress == FRAME_TIMED_OUT) return reply_ended(REPLY_TIMEOUT, data_);
  return reply_ended(check_reply_bcc(reply_, data_.count, reply_code_), data_);
}

}  // namespace imgload
