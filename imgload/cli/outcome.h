// How a run of the command line ends: for each end of a download and each
// refusal of a job, the text, its gloss and the documented exit status, kept
// apart from the order of any message table. The terminal's rows, the JSON
// events, the loop's board lines, the summary and the production log all take
// them from here.
#pragma once

#include <string>

#include "cli/program.h"
#include "imgload/download/download_result.h"
#include "imgload/download/messages.h"

namespace imgload {

constexpr int EXIT_SUCCESS_RUN = 0;    // "ダウンロード正常終了" on every port
constexpr int EXIT_UNKNOWN = 1;        // a run that ended without a known text
constexpr int EXIT_STOPPED_EARLY = 3;  // a stop request left files unsent
using zp3k::EXIT_USAGE;                // a command line that cannot be used

// A job refused before any port opens: the main dialog's warning row, or a
// row of the command line's own refusals after the table's, and the exit
// status.
struct Refusal {
  int message_row;
  int exit_status;
};
constexpr int ROW_BAD_CHECKSUM = MESSAGE_COUNT;  // the first of the command line's own
constexpr Refusal REFUSED_PATH = {MSG_BAD_PATH, 11};
constexpr Refusal REFUSED_ADDRESS = {MSG_BAD_ADDRESS, 12};
constexpr Refusal REFUSED_FILE_OPEN = {MSG_FILE_OPEN, 13};
constexpr Refusal REFUSED_SIZE = {MSG_BAD_SIZE, 14};
// An image whose header does not verify (checksum, length or size field).
constexpr Refusal REFUSED_CHECKSUM = {ROW_BAD_CHECKSUM, 16};

// How one port's download, or a refused job, ended.
struct Outcome {
  std::string text;   // the status line's text (the dialog's own, UTF-8)
  std::string gloss;  // in English
  int exit_status = EXIT_UNKNOWN;
};

// A download's: the text stays the dialog's ("ダウンロード正常終了" after a
// stop); the gloss says how many files went when a stop left some unsent.
Outcome outcome_of(const DownloadResult& result);
// A job refused at row (1-based): the text names the row as the main
// dialog's warning does.
Outcome outcome_of(const Refusal& refusal, int row);
// Whether a stop request left files unsent.
bool stopped_early(const DownloadResult& result);

}  // namespace imgload
