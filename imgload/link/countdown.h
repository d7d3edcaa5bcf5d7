// The reply countdown in whole seconds, one per download: set by the download
// for each request and pause, lowered by one each second by its clock. The lowering
// never overwrites a value that was set after it read the old one, and the
// countdown never goes below 0.
#pragma once

#include <atomic>

namespace imgload {

class ReplyCountdown {
 public:
  void set(int seconds) { seconds_.store(seconds < 0 ? 0 : seconds); }
  int value() const { return seconds_.load(); }
  bool expired() const { return seconds_.load() == 0; }

  // One second has passed: lower by one when above 0. A set that happens
  // between the read and the store makes the exchange fail and the tick is
  // applied to the new value instead.
  void tick() {
    int v = seconds_.load();
    while (v > 0 && !seconds_.compare_exchange_weak(v, v - 1)) {
    }
  }

 private:
  std::atomic<int> seconds_{0};
};

}  // namespace imgload
