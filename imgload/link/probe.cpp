// The quiet model request of the production loop: the request framed as the
// link frames it, then the reply read in short waits against a deadline, so
// that neither silence nor bytes that never end (noise) keep it longer than
// asked; and the answered port handed over open to the download.
#include "imgload/link/probe.h"

#include "imgload/link/frame.h"

namespace imgload {

namespace {

constexpr unsigned PROBE_READ_WAIT_MS = 20;  // ms one read waits for bytes
// Bytes taken by one read: a whole model reply, but little of a flood, so
// the deadline is looked at often.
constexpr int PROBE_READ_CHUNK = 16;

// Reads until a CR ends a reply or the deadline passes: the reply's length
// with its CR, 0 when none came whole, -1 when the read failed.
int read_reply(SerialPort& port, const Clock& clock, std::uint64_t deadline, std::uint8_t* reply) {
  int count = 0;
  while (count < FRAME_BUFFER_SIZE && clock.now_ms() < deadline) {
    const int room = FRAME_BUFFER_SIZE - count;
    const int got = port.read_within(reply + count, room < PROBE_READ_CHUNK ? room : PROBE_READ_CHUNK,
                                     PROBE_READ_WAIT_MS);
    if (got < 0) return -1;
    for (const int end = count + got; count < end; ++count) {
      if (reply[count] == CR) return count + 1;
    }
  }
  return 0;
}

}  // namespace

ProbeResult probe_controller(SerialPort& port, const char* name, const Clock& clock, unsigned wait_ms) {
  const zp3k::Status opened =
      port.is_open() ? zp3k::Status{} : port.open(name, link_settings(PORT_BASE_SPEED));
  if (opened.result == zp3k::Result::NOT_FOUND) return {Presence::DEVICE_MISSING, opened};
  if (!opened.ok()) return {Presence::PORT_REFUSED, opened};
  std::uint8_t frame[FRAME_BUFFER_SIZE];
  const int length = build_frame(frame, "AD", nullptr, 0);
  (void)port.discard_input();  // what came before is no reply to this request
  const std::uint64_t deadline = clock.now_ms() + wait_ms;
  int got = port.write(frame, length) == length ? read_reply(port, clock, deadline, frame) : -1;
  if (got < 0) {
    port.close();  // the device hung up or went away: opened again next time
    got = 0;
  }
  char code[3];
  const bool answered = got > 0 && check_reply_bcc(frame, got, code) == REPLY_OK;
  return {answered ? Presence::ANSWERED : Presence::SILENT, {}};
}

zp3k::Status HandOverPort::open(const char* name, const LineSettings& settings) {
  const LineSettings base = link_settings(PORT_BASE_SPEED);
  const bool at_base = settings.baud_rate == base.baud_rate && settings.data_bits == base.data_bits &&
                       settings.parity == base.parity && settings.stop_bits == base.stop_bits;
  if (handed_over_) {
    handed_over_ = false;
    if (at_base && port_.is_open()) return {};  // as the probe opened it
    port_.close();  // another speed: opened anew
  }
  return port_.open(name, settings);
}

}  // namespace imgload
