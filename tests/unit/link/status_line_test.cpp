// The presentation of a download's result: the text every end shows (the
// one table of texts the tests keep), the transfer notice, and the progress
// bar's range.
#include <gtest/gtest.h>

#include <string>

#include "imgload/download/status_line.h"

namespace imgload {
namespace {

TEST(StatusText, EveryEndShowsItsText) {
  const std::string refusal =
      "外部FROM未搭載機種のため、\n外部FROMにダウンロードできません。\n"
      "ダウンロード先頭アドレスを確認してください。(No.3)";
  const struct {
    DownloadEnd end;
    const char* text;
  } rows[] = {
      {DownloadEnd::SUCCEEDED, "ダウンロード正常終了"},
      {DownloadEnd::STOPPED, "ダウンロード正常終了"},
      {DownloadEnd::TIMED_OUT, "通信エラー\n(タイムアウトエラー)"},
      {DownloadEnd::REPLY_REJECTED, "通信エラー\n(受信データエラー)"},
      {DownloadEnd::BAD_MODEL, "通信エラー\n(受信データエラー)"},
      {DownloadEnd::FILE_OPEN_FAILED, "通信エラー\n(ファイルオープンエラー)"},
      {DownloadEnd::FILE_READ_FAILED, "通信エラー\n(ファイルリードエラー)"},
      {DownloadEnd::PORT_OPEN_FAILED, "通信エラー\n(COMポートオープンエラー)"},
      {DownloadEnd::NO_EXTERNAL_FLASH, refusal.c_str()},
  };
  for (const auto& row : rows) {
    DownloadResult result;
    result.end = row.end;
    result.file = 3;
    const StatusText shown = status_for(result);
    EXPECT_EQ(status_text(shown), row.text) << static_cast<int>(row.end);
    EXPECT_STRNE(status_gloss(shown), "") << static_cast<int>(row.end);
  }
  StatusText notice;
  notice.kind = StatusText::TRANSFER_NOTICE;
  EXPECT_EQ(status_text(notice), "データ転送中\n電源を切らないでください!");
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
