// The clock of the Linux command line: a ticker thread lowers the reply
// countdown once a second; the download waits for its ticks on a condition
// variable instead of polling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "imgload/link/clock.h"
#include "imgload/link/countdown.h"

namespace imgload {

class TickerClock : public Clock {
 public:
  explicit TickerClock(ReplyCountdown& countdown) : countdown_(countdown) {}
  ~TickerClock() override { stop(); }
  void start();
  void stop();
  void wait_tick() override;
  void sleep_ms(unsigned ms) override;

 private:
  void run();

  ReplyCountdown& countdown_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t ticks_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace imgload
