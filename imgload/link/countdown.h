// The reply countdown in whole seconds, one per download: set by the download
// for each request and pause, lowered by one each second by its clock. The lowering
// never overwrites a value that was set after it read the old one, and the
// countdown never goes below 0.
#pragma once

#include <atomic>

namespace imgload {

// One second has passed: lowers seconds by one when above 0. A set or
// another lowering between the read and the store makes the exchange fail,
// and this lowering applies to the new value instead. after_read (tests
// only) runs once, between the first read and the exchange.
inline void lower_by_one(std::atomic<int>& seconds, void (*after_read)(void*) = nullptr,
                         void* context = nullptr) {
  int v = seconds.load();
  if (after_read != nullptr) after_read(context);
  while (v > 0 && !seconds.compare_exchange_weak(v, v - 1)) {
  }
}

class ReplyCountdown {
 public:
  void set(int seconds) { seconds_.store(seconds < 0 ? 0 : seconds); }
  int value() const { return seconds_.load(); }
  bool expired() const { return seconds_.load() == 0; }
  void tick() { lower_by_one(seconds_); }

 private:
  std::atomic<int> seconds_{0};
};

}  // namespace imgload
