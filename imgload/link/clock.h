// The clock seam: what lowers the reply countdown once a second, and how the
// download worker waits for it without spinning. Win32: the progress
// dialog's timer; POSIX: a ticker thread; tests: a virtual clock.
#pragma once

namespace imgload {

class Clock {
 public:
  virtual ~Clock() = default;
  // Returns after the countdown has been lowered once more (or about one
  // second has passed); used by pauses instead of polling.
  virtual void wait_tick() = 0;
  // The plain wait between closing and reopening the port.
  virtual void sleep_ms(unsigned ms) = 0;
};

}  // namespace imgload
