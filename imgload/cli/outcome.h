// How a run of the command line ends: the documented exit status of each end
// of a download and of each refusal of a job, kept apart from the order of
// any message table.
#pragma once

#include "cli/program.h"
#include "imgload/download/download_result.h"
#include "imgload/download/messages.h"

namespace imgload {

constexpr int EXIT_SUCCESS_RUN = 0;    // "ダウンロード正常終了" on every port
constexpr int EXIT_UNKNOWN = 1;        // a run that ended without a known text
constexpr int EXIT_STOPPED_EARLY = 3;  // a stop request left files unsent
using zp3k::EXIT_USAGE;                // a command line that cannot be used

// The exit status of one port's download.
int exit_status_of(const DownloadResult& result);

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

// The refusal's Japanese text (without the row number) and English gloss.
const char* refusal_text(const Refusal& refusal);
const char* refusal_gloss(const Refusal& refusal);

}  // namespace imgload
