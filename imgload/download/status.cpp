// The status rows of a download: the mapping of failure codes to rows, the
// progress bar's range, and the status texts with their glosses.
#include "imgload/download/status.h"

#include "imgload/download/messages.h"
#include "imgload/download/progress_view.h"

namespace imgload {

namespace {
constexpr unsigned PROGRESS_MAXIMUM_LIMIT = 0xFFFF;  // the bar's range is 16-bit
}  // namespace

int row_for_code(int code) {
  switch (code) {
    case -10: return ROW_PORT_OPEN;
    case -8: return ROW_FILE_READ;
    case -7: return ROW_FILE_OPEN;
    case -5: return ROW_TIMEOUT;
    case -9:
    case -6:
    case -4:
    case -3:
    case -2:
    case -1: return ROW_DATA_ERROR;
    default: return -1;
  }
}

unsigned progress_maximum(std::uint32_t total, std::uint32_t unit) {
  // A unit of 0 would divide by zero: the bar then has the range 0..1.
  std::uint64_t maximum = unit == 0 ? 1 : std::uint64_t{total} / unit + 1;
  if (maximum > PROGRESS_MAXIMUM_LIMIT) maximum = PROGRESS_MAXIMUM_LIMIT;
  return static_cast<unsigned>(maximum);
}

std::string status_text(const StatusText& status) {
  switch (status.kind) {
    case StatusText::TRANSFER_NOTICE:
      return dialog_text(TEXT_TRANSFER_NOTICE);
    case StatusText::NO_EXTERNAL_FLASH:
      return std::string(message_text(MSG_NO_EXTERNAL_FLASH)) + "(No." +
             std::to_string(status.entry) + ")";
    case StatusText::ROW:
      break;
  }
  if (status.row < 0 || status.row >= STATUS_ROW_COUNT) return std::string();
  return message_text(status.row);
}

const char* status_gloss(const StatusText& status) {
  switch (status.kind) {
    case StatusText::TRANSFER_NOTICE:
      return "data transfer in progress; do not switch the power off";
    case StatusText::NO_EXTERNAL_FLASH:
      return message_gloss(MSG_NO_EXTERNAL_FLASH);
    case StatusText::ROW:
      break;
  }
  if (status.row < 0 || status.row >= STATUS_ROW_COUNT) return "";
  return message_gloss(status.row);
}

}  // namespace imgload
