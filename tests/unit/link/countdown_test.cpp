// The reply countdown: a set and a one-second lowering, interleaved or from
// two threads, never lose each other's update, and the value never goes below 0.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "imgload/link/countdown.h"

namespace imgload {
namespace {

TEST(Countdown, SetTickAndFloor) {
  ReplyCountdown c;
  EXPECT_TRUE(c.expired());
  c.set(2);
  EXPECT_EQ(c.value(), 2);
  c.tick();
  EXPECT_EQ(c.value(), 1);
  EXPECT_FALSE(c.expired());
  c.tick();
  c.tick();
  EXPECT_EQ(c.value(), 0);
  EXPECT_TRUE(c.expired());
  c.set(-3);
  EXPECT_EQ(c.value(), 0);
}

// Seconds kept in a cell that, once, runs a set between the lowering's read
// and its write: the interleaving a second thread may produce at any time.
struct InterleavedCell {
  explicit InterleavedCell(int v) : seconds(v) {}
  int load() const {
    const int v = seconds.load();
    if (between) std::exchange(between, nullptr)();
    return v;
  }
  void store(int v) { seconds.store(v); }
  bool compare_exchange_weak(int& expected, int desired) {
    return seconds.compare_exchange_weak(expected, desired);
  }
  std::atomic<int> seconds;
  static std::function<void()> between;
};
std::function<void()> InterleavedCell::between;

TEST(Countdown, ASetBetweenTheLoweringsReadAndWriteIsNotLost) {
  for (const int set_to : {5, 1, 0}) {
    BasicCountdown<InterleavedCell> countdown;
    countdown.set(1);
    InterleavedCell::between = [&] { countdown.set(set_to); };
    countdown.tick();
    // The tick applies to the value set, not to the 1 it read first.
    EXPECT_EQ(countdown.value(), set_to > 0 ? set_to - 1 : 0) << set_to;
  }
}

constexpr int HIGH = 1 << 30;  // far more seconds than the ticker can lower meanwhile

struct HammerResult {
  long lost_updates = 0;
  long below_zero = 0;
};

// One thread sets the countdown low, then high, waits until the other thread
// has finished two more lowerings, and reads it back; the other lowers it
// all the time. A lowering that read the low value and stores after the high
// one was set leaves a small value behind.
template <typename Countdown>
HammerResult hammer(Countdown& countdown, long rounds) {
  std::atomic<bool> done{false};
  std::atomic<long> ticks{0};
  std::atomic<long> below_zero{0};
  std::thread ticker([&] {
    while (!done.load()) {
      countdown.tick();
      if (countdown.value() < 0) below_zero.fetch_add(1);
      ticks.fetch_add(1);
      std::this_thread::yield();  // lets the setter on, even on one core
    }
  });
  HammerResult result;
  for (long i = 0; i < rounds; ++i) {
    countdown.set(1);
    std::this_thread::yield();
    countdown.set(HIGH);
    const long seen = ticks.load();
    while (ticks.load() < seen + 2) std::this_thread::yield();
    const int v = countdown.value();
    if (v < 0) ++result.below_zero;
    if (v < HIGH / 2) ++result.lost_updates;
  }
  done.store(true);
  ticker.join();
  result.below_zero += below_zero.load();
  return result;
}

TEST(Countdown, SetAndLoweringFromTwoThreadsLoseNothing) {
  ReplyCountdown countdown;
  const HammerResult r = hammer(countdown, 20'000);
  EXPECT_EQ(r.lost_updates, 0);
  EXPECT_EQ(r.below_zero, 0);
}

TEST(Countdown, LoweringFromTwoThreadsNeverGoesBelowZero) {
  ReplyCountdown countdown;
  std::atomic<long> below{0};
  auto lower = [&] {
    for (int round = 0; round < 20000; ++round) {
      countdown.tick();
      countdown.tick();
      if (countdown.value() < 0) below.fetch_add(1);
    }
  };
  std::thread a(lower);
  for (int round = 0; round < 20000; ++round) {
    countdown.set(1);
    countdown.tick();
    if (countdown.value() < 0) below.fetch_add(1);
  }
  a.join();
  EXPECT_EQ(below.load(), 0);
  EXPECT_EQ(countdown.value(), 0);
}

}  // namespace
}  // namespace imgload
