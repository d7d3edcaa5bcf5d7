// The serial port seam: a port object that owns one COM port's handle and the
// line settings saved when it was opened, opened exclusively with the given
// settings, DTR raised while open, writes bounded by about 3 s, one-byte
// reads that return at once or after about 3 s, and a discard of what was
// received and not read. Win32 and POSIX files each define a port class and
// make_system_port(); the tests have a scripted one.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/status.h"

namespace imgload {

enum class Parity { NONE, ODD, EVEN };
enum class StopBits { ONE, ONE_AND_HALF, TWO };

struct LineSettings {
  std::uint32_t baud_rate;  // bit/s
  std::uint8_t data_bits;
  Parity parity;
  StopBits stop_bits;
};

// The settings every opening of the link uses: 8 data bits, even parity,
// one stop bit.
constexpr std::uint8_t PORT_DATA_BITS = 8;
constexpr Parity PORT_PARITY = Parity::EVEN;
constexpr StopBits PORT_STOP_BITS = StopBits::ONE;
constexpr std::uint32_t PORT_BASE_SPEED = 9600;   // bit/s
constexpr unsigned PORT_READ_TIMEOUT_MS = 3000;   // ms
constexpr unsigned PORT_WRITE_TIMEOUT_MS = 3000;  // ms

// The link's 8E1 settings at baud_rate.
constexpr LineSettings link_settings(std::uint32_t baud_rate) {
  return {baud_rate, PORT_DATA_BITS, PORT_PARITY, PORT_STOP_BITS};
}

// A port owns its device while open: it is never copied.
class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  virtual ~SerialPort() = default;

  // Opens name exclusively with settings and raises DTR. On failure nothing
  // is left open and the status says why: its kind (NOT_FOUND for a device
  // that is not there, such as a USB adapter unplugged) and the system's
  // error code. An open port is left as it is and refuses a second opening.
  virtual zp3k::Status open(const char* name, const LineSettings& settings) = 0;
  // Drains pending output, drops DTR, puts back the settings saved at
  // opening and closes; nothing happens when the port is not open.
  virtual void close() = 0;
  virtual bool is_open() const = 0;
  // Bytes written, or -1 when the write failed (or the port is not open).
  virtual int write(const std::uint8_t* data, int count) = 0;
  // Bytes read (0 when the wait ran out), or -1 when the read failed.
  virtual int read(std::uint8_t* buffer, int count) = 0;
  // As read, waiting at most wait_ms for the first byte instead of about
  // 3 s: for a probe that must come back soon. A port that cannot wait less
  // waits as read does.
  virtual int read_within(std::uint8_t* buffer, int count, unsigned wait_ms) {
    (void)wait_ms;
    return read(buffer, count);
  }
  // Drops the bytes received and not yet read; returns how many there were,
  // or -1 when they could not be counted or dropped.
  virtual int discard_input() = 0;
  // The process that holds the device's lock when the last opening failed
  // because another program has the device; 0 when unknown or none.
  virtual long holder_pid() const { return 0; }
  // Puts back the line settings saved at opening without closing, for a
  // process that ends at once from another thread; nothing when not open.
  virtual void restore_settings() {}
};

// A port of this platform (the comm API on Windows, a tty device on POSIX),
// not yet open.
std::unique_ptr<SerialPort> make_system_port();

}  // namespace imgload
