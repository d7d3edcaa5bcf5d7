// The quiet model request of the production loop: the link's framing, then
// the reply read in short waits against a deadline, so that neither silence
// nor bytes that never end (noise) keep it longer than asked.
#include "imgload/link/probe.h"

#include "imgload/link/commands.h"
#include "imgload/link/link.h"

namespace imgload {

namespace {

constexpr unsigned PROBE_READ_WAIT_MS = 20;  // ms one read waits for bytes
// Bytes taken by one read: a whole model reply, but little of a flood, so
// the deadline is looked at often.
constexpr int PROBE_READ_CHUNK = 16;

}  // namespace

ProbeResult probe_controller(SerialPort& port, const char* name, const Clock& clock, unsigned wait_ms) {
  ReplyCountdown countdown;  // set by the request, never waited on here
  Link link(port, countdown, nullptr);
  if (!link.open(name, PORT_BASE_SPEED)) {
    return {port.device_missing() ? Presence::DEVICE_MISSING : Presence::PORT_REFUSED, link.open_error()};
  }
  const std::uint64_t deadline = clock.now_ms() + wait_ms;
  send_model_request(link);
  std::uint8_t reply[FRAME_BUFFER_SIZE];
  int count = 0;
  Presence presence = Presence::SILENT;
  while (count < FRAME_BUFFER_SIZE && clock.now_ms() < deadline) {
    const int room = FRAME_BUFFER_SIZE - count;
    const int got = port.read_within(reply + count, room < PROBE_READ_CHUNK ? room : PROBE_READ_CHUNK,
                                     PROBE_READ_WAIT_MS);
    if (got < 0) break;  // the device hung up or went away
    const int end = count + got;
    for (; count < end; ++count) {
      if (reply[count] != CR) continue;
      char code[3];
      presence = check_reply_bcc(reply, count + 1, code) == REPLY_OK ? Presence::ANSWERED : Presence::SILENT;
      link.close();
      return {presence, 0};
    }
  }
  link.close();
  return {presence, 0};
}

}  // namespace imgload
