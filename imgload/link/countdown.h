// The reply countdown in whole seconds, one per download: set by the download
// for each request and pause, lowered by one each second by its clock. The lowering
// never overwrites a value that was set after it read the old one, and the
// countdown never goes below 0.
#pragma once

#include <atomic>

namespace imgload {

// Cell: where the seconds are kept; std::atomic<int> in the product, a cell
// that can act between the lowering's read and its write in the tests.
template <typename Cell>
class BasicCountdown {
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
  Cell seconds_{0};
};

using ReplyCountdown = BasicCountdown<std::atomic<int>>;

}  // namespace imgload
