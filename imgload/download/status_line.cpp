// The presentation of a download's result: the status row each result shows,
// the status texts with their glosses, and the progress bar's range.
#include "imgload/download/status_line.h"

#include "imgload/download/messages.h"

namespace imgload {

namespace {
constexpr unsigned PROGRESS_MAXIMUM_LIMIT = 0xFFFF;  // the bar's range is 16-bit
}  // namespace

StatusText status_for(const DownloadResult& result) {
  StatusText status;
  switch (result.end) {
    case DownloadEnd::SUCCEEDED:
    case DownloadEnd::STOPPED: status.row = ROW_SUCCESS; break;
    case DownloadEnd::TIMED_OUT: status.row = ROW_TIMEOUT; break;
    case DownloadEnd::REPLY_REJECTED:
    case DownloadEnd::BAD_MODEL: status.row = ROW_DATA_ERROR; break;
    case DownloadEnd::PORT_OPEN_FAILED: status.row = ROW_PORT_OPEN; break;
    case DownloadEnd::FILE_OPEN_FAILED: status.row = ROW_FILE_OPEN; break;
    case DownloadEnd::FILE_READ_FAILED: status.row = ROW_FILE_READ; break;
    case DownloadEnd::NO_EXTERNAL_FLASH:
      status.kind = StatusText::NO_EXTERNAL_FLASH;
      status.entry = result.file;
      break;
  }
  return status;
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
