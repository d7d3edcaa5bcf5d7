// The progress-view seam: where a download's texts and progress go. Win32:
// the progress dialog's controls, updated by the user-interface thread in
// the order issued; POSIX: the terminal; tests: a recorder.
#pragma once

namespace imgload {

// Controls of the progress dialog that receive output.
constexpr int CONTROL_STATUS = 1014;       // status text, two lines
constexpr int CONTROL_FILE_LABEL = 1017;   // "No.1".."No.3"
constexpr int CONTROL_BLOCK_LABEL = 1018;  // "Block No. %ld"
constexpr int CONTROL_PROGRESS = 1035;     // progress bar

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // Text (in the program's code page) into control 1014, 1017 or 1018.
  virtual void set_text(int control_id, const char* text) = 0;
  // Progress bar: range 0..maximum (16-bit), step 1, position 0.
  virtual void progress_reset(unsigned maximum) = 0;
  virtual void progress_step() = 0;
};

// The view of the open progress display; set by the front end before a run.
extern ProgressView* progress_view;

}  // namespace imgload
