// The exit statuses of the command line.
#include "imgload/cli/outcome.h"

#include "imgload/cli/terminal_view.h"  // stopped_early

namespace imgload {

namespace {

// The command line's own refusals, rows ROW_BAD_CHECKSUM onwards: text, gloss.
const char* const OWN_ROWS[][2] = {
    {"イメージファイルのチェックサムが一致しません。",
     "the image's checksum does not verify: convert it again"},
};

}  // namespace

int exit_status_of(const DownloadResult& result) {
  switch (result.end) {
    case DownloadEnd::SUCCEEDED: return EXIT_SUCCESS_RUN;
    case DownloadEnd::STOPPED:  // every file sent when the stop came in the last
      return stopped_early(result) ? EXIT_STOPPED_EARLY : EXIT_SUCCESS_RUN;
    case DownloadEnd::TIMED_OUT: return 5;
    case DownloadEnd::FILE_OPEN_FAILED: return 7;
    case DownloadEnd::FILE_READ_FAILED: return 8;
    case DownloadEnd::REPLY_REJECTED:
    case DownloadEnd::BAD_MODEL: return 9;
    case DownloadEnd::PORT_OPEN_FAILED: return 10;
    case DownloadEnd::NO_EXTERNAL_FLASH: return 15;
  }
  return EXIT_UNKNOWN;  // not reached: every end has its status above
}

const char* refusal_text(const Refusal& refusal) {
  const int row = refusal.message_row;
  return row < MESSAGE_COUNT ? message_text(row) : OWN_ROWS[row - MESSAGE_COUNT][0];
}

const char* refusal_gloss(const Refusal& refusal) {
  const int row = refusal.message_row;
  return row < MESSAGE_COUNT ? message_gloss(row) : OWN_ROWS[row - MESSAGE_COUNT][1];
}

}  // namespace imgload
