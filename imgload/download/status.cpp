// Status and progress output of a download: the status rows, the mapping of
// failure codes to rows and the progress bar, all through the progress view.
#include "imgload/download/status.h"

#include "imgload/download/messages.h"
#include "imgload/download/progress_view.h"

namespace imgload {

int running = 0;
ProgressView* progress_view = nullptr;

namespace {

constexpr unsigned PROGRESS_MAXIMUM_LIMIT = 0xFFFF;  // the bar's range is 16-bit

// Status row for a failure code, or -1 when the code has none.
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

}  // namespace

void show_status(int row) {
  if (row < 0 || row >= STATUS_ROW_COUNT || progress_view == nullptr) return;
  progress_view->set_text(CONTROL_STATUS, message_text(row));
}

void show_error_for_code(int code) {
  const int row = row_for_code(code);
  if (row >= 0) show_status(row);
  running = 0;
}

void progress_setup(std::uint32_t total, std::uint32_t unit) {
  if (progress_view == nullptr) return;
  // A unit of 0 would divide by zero: the bar then has the range 0..1.
  std::uint64_t maximum = unit == 0 ? 1 : std::uint64_t{total} / unit + 1;
  if (maximum > PROGRESS_MAXIMUM_LIMIT) maximum = PROGRESS_MAXIMUM_LIMIT;
  progress_view->progress_reset(static_cast<unsigned>(maximum));
}

void progress_step() {
  if (progress_view != nullptr) progress_view->progress_step();
}

}  // namespace imgload
