// The progress-view seam: the typed events of a download. Win32: the progress
// dialog's controls 1014, 1017, 1018 and 1035, updated by the user-interface
// thread in the order issued; POSIX: the terminal or JSON; tests: a recorder.
#pragma once

#include <cstdint>
#include <string>

namespace imgload {

// Controls of the progress dialog that receive output.
constexpr int CONTROL_STATUS = 1014;       // status text, two lines
constexpr int CONTROL_FILE_LABEL = 1017;   // "No.1".."No.3"
constexpr int CONTROL_BLOCK_LABEL = 1018;  // "Block No. %ld"
constexpr int CONTROL_PROGRESS = 1035;     // progress bar

// What the status line shows: a status row, the transfer notice, or the
// refusal of an entry bound for external flash. A run's outcome is one too.
struct StatusText {
  enum Kind { ROW, TRANSFER_NOTICE, NO_EXTERNAL_FLASH } kind = ROW;
  int row = 0;    // ROW: status row 0..10
  int entry = 0;  // NO_EXTERNAL_FLASH: the 1-based entry refused
};

// The text as control 1014 shows it (UTF-8): the row's text, the notice, or
// the refusal followed by "(No.n)".
std::string status_text(const StatusText& status);
// An English gloss of it, for the terminal.
const char* status_gloss(const StatusText& status);

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void status_shown(const StatusText& status) = 0;     // control 1014
  virtual void file_started(int number) = 0;                   // 1017: "No." and 1..3
  virtual void block_sent(std::uint32_t block_number) = 0;     // 1018: "Block No. %ld"
  virtual void range_set(unsigned maximum) = 0;                // 1035: 0..maximum, position 0
  virtual void stepped() = 0;                                  // 1035: one step
};

}  // namespace imgload
