// A scripted serial port and a virtual clock for tests of the link layer and
// everything above it; no real port, no real waiting.
//
// A FakePort is a SerialPort: a test makes its own and gives it to the Link
// or Download under test.
//
//  - reads follow a script of events: queue_bytes() makes bytes available
//    (each read takes up to its count of them; with ms_per_byte each byte
//    taken moves the clock on, as a byte on the line would take),
//    queue_empty_read() one read that returns 0 and queue_read_error() one
//    that returns -1. When the script is empty, every read is empty: a
//    silent line.
//  - discard_input drops the bytes that have arrived: those queued up to the
//    first empty or failed read still in the script (what comes after it is
//    still on its way); it returns their count, or -1 when made to fail
//    with fail_next_discards(n).
//  - every empty or failed read advances the attached VirtualClock by
//    PORT_READ_TIMEOUT_MS (3000 ms), as a real silent read would last (by
//    the wait asked of read_within).
//  - every write is logged whole (writes()), then passed to the controller
//    hook, if any, which may queue the reply bytes; queue_write_result()
//    makes the next write return a given count (for example -1 or a short
//    count) instead of the full one.
//  - every opening is recorded (opens(): name, line settings, whether it
//    opened); fail_next_opens(n, why) makes the next n fail (in use by
//    default), and so does an opening while open, like the exclusive real port. Each close of the
//    open port records its name (closes()); a close of a closed port is not
//    recorded; reads, writes and discards while closed fail.
//
// VirtualClock implements Clock: wait_tick() advances 1000 ms, sleep_ms(ms)
// advances ms. Each whole second that passes lowers the countdown it was
// given once, the way the progress dialog's timer would.
#pragma once

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "imgload/link/clock.h"
#include "imgload/link/countdown.h"
#include "imgload/link/serial_port.h"

namespace imgload {
namespace testing {

using Bytes = std::vector<std::uint8_t>;

Bytes to_bytes(const std::string& text);

class VirtualClock : public Clock {
 public:
  void wait_tick() override { advance(1000); }
  void sleep_ms(unsigned ms) override { advance(ms); }
  // The countdown the ticks lower (a download's); none: time only passes.
  void attach_countdown(ReplyCountdown* countdown) { countdown_ = countdown; }
  // Moves time on; lowers the countdown once per whole second crossed.
  void advance(std::uint64_t ms);
  std::uint64_t now_ms() const override { return now_ms_; }
  void reset() { now_ms_ = 0; }

 private:
  std::uint64_t now_ms_ = 0;
  ReplyCountdown* countdown_ = nullptr;
};

struct OpenRecord {
  std::string name;
  LineSettings settings;
  bool opened;  // false when this opening was made to fail
};

class FakePort : public SerialPort {
 public:
  // SerialPort
  zp3k::Status open(const char* name, const LineSettings& settings) override;
  void close() override;
  bool is_open() const override { return open_; }
  int write(const std::uint8_t* data, int count) override;
  int read(std::uint8_t* buffer, int count) override;
  int read_within(std::uint8_t* buffer, int count, unsigned wait_ms) override;
  int discard_input() override;

  // Back to a closed port with empty script, logs and hooks.
  void reset();
  void attach_clock(VirtualClock* clock) { clock_ = clock; }

  // Read script.
  void queue_bytes(const Bytes& bytes, std::uint64_t ms_per_byte = 0);
  void queue_bytes(const std::string& text, std::uint64_t ms_per_byte = 0) {
    queue_bytes(to_bytes(text), ms_per_byte);
  }
  void queue_empty_read();
  void queue_read_error();
  // Bytes still waiting to be read.
  std::size_t pending_bytes() const;

  // Writes.
  void queue_write_result(int result);
  using Controller = std::function<void(FakePort& port, const Bytes& frame)>;
  void set_controller(Controller controller) { controller_ = std::move(controller); }
  const std::vector<Bytes>& writes() const { return writes_; }

  // Opens and closes.
  void fail_next_opens(int count, zp3k::Status why = {zp3k::Result::IN_USE, EBUSY}) {
    failing_opens_ = count;
    failing_open_ = why;
  }
  void fail_next_discards(int count) { failing_discards_ = count; }
  const std::vector<OpenRecord>& opens() const { return opens_; }
  const std::vector<std::string>& closes() const { return closes_; }

  // Counts of reads by outcome.
  int read_calls() const { return read_calls_; }
  int empty_reads() const { return empty_reads_; }

 private:
  enum class Kind { BYTES, EMPTY, ERROR };
  struct Event {
    Kind kind;
    Bytes bytes;
    std::size_t taken;
    std::uint64_t ms_per_byte;
  };
  int silent_read(int result);

  std::deque<Event> script_;
  std::deque<int> write_results_;
  std::vector<Bytes> writes_;
  std::vector<OpenRecord> opens_;
  std::vector<std::string> closes_;
  Controller controller_;
  VirtualClock* clock_ = nullptr;
  bool open_ = false;
  std::string open_name_;
  int failing_opens_ = 0;
  zp3k::Status failing_open_;
  int failing_discards_ = 0;
  int read_calls_ = 0;
  int empty_reads_ = 0;
  unsigned read_wait_ms_ = PORT_READ_TIMEOUT_MS;  // what an empty read lasts
};

}  // namespace testing
}  // namespace imgload
