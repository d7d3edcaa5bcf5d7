// What a download shows on its status line: the presentation of its result
// (status row, external-flash refusal) and the transfer notice, as texts and
// English glosses, and the progress bar's range.
#pragma once

#include <cstdint>
#include <string>

#include "imgload/download/download_result.h"

namespace imgload {

constexpr int STATUS_ROW_COUNT = 11;

// What the status line shows: a status row, the transfer notice, or the
// refusal of an entry bound for external flash.
struct StatusText {
  enum Kind { ROW, TRANSFER_NOTICE, NO_EXTERNAL_FLASH } kind = ROW;
  int row = 0;    // ROW: status row 0..10
  int entry = 0;  // NO_EXTERNAL_FLASH: the 1-based entry refused
};

// The status line a result ends a run with.
StatusText status_for(const DownloadResult& result);
// The text as the status line shows it (UTF-8): the row's text, the notice,
// or the refusal followed by "(No.n)".
std::string status_text(const StatusText& status);
// An English gloss of it, for the terminal.
const char* status_gloss(const StatusText& status);

// The progress bar's maximum for total bytes in steps of unit: total/unit + 1,
// at most 16 bits, 1 for a unit of 0.
unsigned progress_maximum(std::uint32_t total, std::uint32_t unit);

}  // namespace imgload
