// The reply countdown: a set or another lowering that comes between a
// lowering's read and its write is never lost, and the value never goes below 0.
#include <gtest/gtest.h>

#include <atomic>

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

// Each interleaving a second thread (the download's set, or a second
// lowering) may produce at any time, run between the lowering's read and its
// write: the lowering applies to the value that is there by then.
TEST(Countdown, WhatComesBetweenTheLoweringsReadAndWriteIsNotLost) {
  struct Row {
    int start;
    int set_to;  // the set in between, or -1: another lowering
    int after;
  };
  for (const Row& row : {Row{1, 5, 4}, Row{1, 1, 0}, Row{1, 0, 0}, Row{1, -1, 0}, Row{3, -1, 1},
                         Row{0, -1, 0}}) {
    struct Between {
      std::atomic<int> seconds;
      int set_to;
    } between{{row.start}, row.set_to};
    lower_by_one(between.seconds, [](void* context) {
      auto* b = static_cast<Between*>(context);
      if (b->set_to >= 0) b->seconds.store(b->set_to);
      else lower_by_one(b->seconds);
    }, &between);
    EXPECT_EQ(between.seconds.load(), row.after) << row.start << ", then " << row.set_to;
  }
}

}  // namespace
}  // namespace imgload
