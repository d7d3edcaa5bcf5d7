// Status rows and their texts, the mapping of failure codes to rows and the
// progress bar's range.
#include <gtest/gtest.h>

#include <string>

#include "imgload/download/messages.h"
#include "imgload/download/progress_view.h"
#include "imgload/download/status.h"

namespace imgload {
namespace {

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

StatusText row(int r) {
  StatusText status;
  status.row = r;
  return status;
}

TEST(StatusText, EveryRowHasItsTextAndOthersNone) {
  for (int r = 0; r < STATUS_ROW_COUNT; ++r) EXPECT_EQ(status_text(row(r)), STATUS_TEXTS[r]) << r;
  EXPECT_EQ(status_text(row(-1)), "");
  EXPECT_EQ(status_text(row(STATUS_ROW_COUNT)), "");
  StatusText notice;
  notice.kind = StatusText::TRANSFER_NOTICE;
  EXPECT_EQ(status_text(notice), "データ転送中\n電源を切らないでください!");
  StatusText refusal;
  refusal.kind = StatusText::NO_EXTERNAL_FLASH;
  refusal.entry = 3;
  EXPECT_EQ(status_text(refusal),
            "外部FROM未搭載機種のため、\n外部FROMにダウンロードできません。\n"
            "ダウンロード先頭アドレスを確認してください。(No.3)");
}

TEST(StatusText, EveryFailureCodeHasItsRow) {
  // Code -11 .. 0 -> row, -1 for no text.
  const int rows[] = {-1, 10, 9, 8, 7, 9, 5, 9, 9, 9, 9, -1};
  for (int code = -11; code <= 0; ++code) EXPECT_EQ(row_for_code(code), rows[code + 11]) << code;
  EXPECT_EQ(row_for_code(1), -1);
}

TEST(ProgressRange, TotalOverUnitPlusOneWithinSixteenBits) {
  struct Case {
    std::uint32_t total, unit;
    unsigned maximum;
  } cases[] = {{2, 1, 3},          {2048, 512, 5},        {512, 512, 2},
               {7 * 512, 512, 8},  {0x200000, 512, 4097}, {2049, 512, 5},
               {0xFFFFFFFFu, 1, 0xFFFF}, {10, 0, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(progress_maximum(c.total, c.unit), c.maximum) << c.total << "/" << c.unit;
  }
  for (std::uint32_t n = 1; n <= 4096; n *= 2) EXPECT_EQ(progress_maximum(n * 512, 512), n + 1);
}

}  // namespace
}  // namespace imgload
