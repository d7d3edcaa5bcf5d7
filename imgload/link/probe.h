// Whether a controller answers on a port: the model request ("AD") sent once,
// quietly (no view, no trace), and its reply awaited for a short time. The
// production loop asks it every half second while it waits for a board to
// come and, after flashing it, to leave; a board that answered gets the port
// handed over open to its download.
#pragma once

#include "imgload/link/clock.h"
#include "imgload/link/serial_port.h"

namespace imgload {

enum class Presence {
  ANSWERED,        // a whole reply with a right BCC came back
  SILENT,          // the port is open; nothing whole came back in time
  DEVICE_MISSING,  // the device is not there (a USB adapter unplugged)
  PORT_REFUSED,    // the device is there but did not open (in use, no rights)
};

struct ProbeResult {
  Presence presence = Presence::SILENT;
  zp3k::Status port;  // PORT_REFUSED, DEVICE_MISSING: why the port did not open
};

// Opens name on port at 9600 bit/s unless it is open, sends "AD" and waits
// at most wait_ms (by clock) for a whole reply. The port stays open between
// probes (DTR steady while a fixture waits), and is closed when a write or
// read fails, so that the next probe opens it again once the device is back.
ProbeResult probe_controller(SerialPort& port, const char* name, const Clock& clock, unsigned wait_ms);

// The port a download opens after a probe was answered: the probed port
// handed over open. A board that answered sees no closing and reopening
// before the download's "AD" (to a fixture, a new opening asks for the next
// board) and DTR stays steady. The download's opening at the base speed
// takes the open port as it is; every other call goes to the port itself.
class HandOverPort final : public SerialPort {
 public:
  explicit HandOverPort(SerialPort& port) : port_(port) {}

  // The port, open now, goes to the next opening at the base speed as it
  // is; until then it looks closed (a closing before that opening leaves
  // it open). Nothing happens when the port is not open.
  void hand_over() { handed_over_ = port_.is_open(); }
  // The port is the probe's again, open or not.
  void take_back() { handed_over_ = false; }

  zp3k::Status open(const char* name, const LineSettings& settings) override;
  void close() override {
    if (!handed_over_) port_.close();
  }
  bool is_open() const override { return !handed_over_ && port_.is_open(); }
  int write(const std::uint8_t* data, int count) override { return port_.write(data, count); }
  int read(std::uint8_t* buffer, int count) override { return port_.read(buffer, count); }
  int read_within(std::uint8_t* buffer, int count, unsigned wait_ms) override {
    return port_.read_within(buffer, count, wait_ms);
  }
  int discard_input() override { return port_.discard_input(); }
  long holder_pid() const override { return port_.holder_pid(); }
  void restore_settings() override { port_.restore_settings(); }

 private:
  SerialPort& port_;
  bool handed_over_ = false;
};

}  // namespace imgload
