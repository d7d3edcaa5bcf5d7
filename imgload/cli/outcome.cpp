// How a run of the command line ends: texts, glosses and exit statuses.
#include "imgload/cli/outcome.h"

#include "imgload/download/status_line.h"

namespace imgload {

namespace {

// The command line's own refusals, rows ROW_BAD_CHECKSUM onwards: text, gloss.
constexpr char OWN_ROWS[][2][96] = {
    {"イメージファイルのチェックサムが一致しません。",
     "the image's checksum does not verify: convert it again"},
};

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

}  // namespace

bool stopped_early(const DownloadResult& result) {
  return result.end == DownloadEnd::STOPPED && result.file < result.files;
}

Outcome outcome_of(const DownloadResult& result) {
  const StatusText shown = status_for(result);
  Outcome o{status_text(shown), status_gloss(shown), exit_status_of(result)};
  if (stopped_early(result)) {
    o.gloss = "stopped after file " + std::to_string(result.file) + " of " + std::to_string(result.files);
  }
  return o;
}

Outcome outcome_of(const Refusal& refusal, int row) {
  const int r = refusal.message_row;
  const bool own = r >= MESSAGE_COUNT;
  return {std::string(own ? OWN_ROWS[r - MESSAGE_COUNT][0] : message_text(r)) + "(No." +
              std::to_string(row) + ")",
          own ? OWN_ROWS[r - MESSAGE_COUNT][1] : message_gloss(r), refusal.exit_status};
}

}  // namespace imgload
