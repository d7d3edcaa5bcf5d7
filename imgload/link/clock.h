// The clock seam: what lowers the reply countdown once a second, how the
// download worker waits for it without spinning, and the time a short wait
// is measured by. Win32: the progress dialog's timer; POSIX: a ticker thread;
// tests: a virtual clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace imgload {

class Clock {
 public:
  virtual ~Clock() = default;
  // Returns after the countdown has been lowered once more (or about one
  // second has passed); used by pauses instead of polling.
  virtual void wait_tick() = 0;
  // The plain wait between closing and reopening the port.
  virtual void sleep_ms(unsigned ms) = 0;
  // Milliseconds of a monotonic time (the system's steady clock unless the
  // clock keeps time of its own).
  virtual std::uint64_t now_ms() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

}  // namespace imgload
