// Status rows, the mapping of failure codes to rows and the progress bar,
// against a recording progress view.
#include <gtest/gtest.h>

#include <string>

#include "imgload/download/messages.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/status.h"
#include "recording_view.h"

namespace imgload {
namespace {

using testing::RecordingView;
using testing::ViewEvent;

const char* const STATUS_TEXTS[STATUS_ROW_COUNT] = {
    "ダウンロード正常終了",
    "通信エラー\n(受信バイト数エラー)",
    "通信エラー\n(局番不一致エラー)",
    "通信エラー\n(予約不一致エラー)",
    "通信エラー\n(ＮＡＫ受信)",
    "通信エラー\n(タイムアウトエラー)",
    "通信エラー\n(ＢＣＣエラー)",
    "通信エラー\n(ファイルオープンエラー)",
    "通信エラー\n(ファイルリードエラー)",
    "通信エラー\n(受信データエラー)",
    "通信エラー\n(COMポートオープンエラー)",
};

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override { progress_view = &view; }
  void TearDown() override { progress_view = nullptr; }
  RecordingView view;
};

TEST_F(StatusTest, ShowStatusSetsTheStatusControlToTheRowText) {
  for (int row = 0; row < STATUS_ROW_COUNT; ++row) {
    view.events.clear();
    show_status(row);
    ASSERT_EQ(view.events.size(), 1u) << row;
    EXPECT_EQ(view.events[0].kind, ViewEvent::TEXT);
    EXPECT_EQ(view.events[0].control, CONTROL_STATUS);
    EXPECT_EQ(view.events[0].text, STATUS_TEXTS[row]) << row;
  }
  view.events.clear();
  show_status(-1);
  show_status(STATUS_ROW_COUNT);
  EXPECT_TRUE(view.events.empty());
}

TEST_F(StatusTest, EveryFailureCodeEndsTheRunWithItsRow) {
  // Code -11 .. 0 -> row, -1 for no text.
  const int rows[] = {-1, 10, 9, 8, 7, 9, 5, 9, 9, 9, 9, -1};
  for (int code = -11; code <= 0; ++code) {
    SCOPED_TRACE(code);
    view.events.clear();
    running = 1;
    show_error_for_code(code);
    EXPECT_EQ(running, 0);
    const int row = rows[code + 11];
    if (row < 0) {
      EXPECT_TRUE(view.events.empty());
    } else {
      ASSERT_EQ(view.events.size(), 1u);
      EXPECT_EQ(view.events[0].control, CONTROL_STATUS);
      EXPECT_EQ(view.events[0].text, STATUS_TEXTS[row]);
    }
  }
  view.events.clear();
  running = 1;
  show_error_for_code(1);
  EXPECT_EQ(running, 0);
  EXPECT_TRUE(view.events.empty());
}

TEST_F(StatusTest, ProgressRangeIsTotalOverUnitPlusOne) {
  struct Case {
    std::uint32_t total, unit;
    unsigned maximum;
  } cases[] = {{2, 1, 3},          {2048, 512, 5},       {512, 512, 2},
               {7 * 512, 512, 8},  {0x200000, 512, 4097}, {2049, 512, 5}};
  for (const Case& c : cases) {
    view.events.clear();
    progress_setup(c.total, c.unit);
    ASSERT_EQ(view.events.size(), 1u);
    EXPECT_EQ(view.events[0].kind, ViewEvent::RESET);
    EXPECT_EQ(view.events[0].maximum, c.maximum) << c.total << "/" << c.unit;
  }
  for (std::uint32_t n = 1; n <= 4096; n *= 2) {
    view.events.clear();
    progress_setup(n * 512, 512);
    EXPECT_EQ(view.events.at(0).maximum, n + 1);
  }
}

TEST_F(StatusTest, ProgressRangeStaysWithinSixteenBits) {
  progress_setup(0xFFFFFFFFu, 1);
  progress_setup(10, 0);
  ASSERT_EQ(view.events.size(), 2u);
  EXPECT_EQ(view.events[0].maximum, 0xFFFFu);
  EXPECT_EQ(view.events[1].maximum, 1u);
}

TEST_F(StatusTest, ProgressStepGoesToTheView) {
  progress_setup(2, 1);
  progress_step();
  progress_step();
  ASSERT_EQ(view.events.size(), 3u);
  EXPECT_EQ(view.events[1].kind, ViewEvent::STEP);
  EXPECT_EQ(view.events[2].kind, ViewEvent::STEP);
}

TEST(StatusWithoutView, NothingIsShownButTheRunStillEnds) {
  progress_view = nullptr;
  running = 1;
  show_status(0);
  progress_setup(2, 1);
  progress_step();
  show_error_for_code(-5);
  EXPECT_EQ(running, 0);
}

}  // namespace
}  // namespace imgload
