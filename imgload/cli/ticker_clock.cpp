// The ticker thread of the Linux command line's clock.
#include "imgload/cli/ticker_clock.h"


namespace imgload {

namespace {
constexpr std::chrono::milliseconds TICK{1000};            // the countdown's second
constexpr std::chrono::milliseconds TICK_WAIT_LIMIT{1100};  // ms, in case a tick is missed
}  // namespace

void TickerClock::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void TickerClock::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TickerClock::run() {
  auto next = std::chrono::steady_clock::now() + TICK;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (changed_.wait_until(lock, next, [this] { return stopping_; })) break;
    // Absolute deadlines, so the ticks do not drift with scheduling delays.
    next += TICK;
    countdown_.tick();
    ++ticks_;
    changed_.notify_all();
  }
}

void TickerClock::wait_tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::uint64_t seen = ticks_;
  changed_.wait_for(lock, TICK_WAIT_LIMIT, [&] { return ticks_ != seen || stopping_; });
}

void TickerClock::sleep_ms(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace imgload
