// The progress seam: what a download reports while it runs, in its own words.
// Win32: the progress dialog's controls (imgload/ui/); POSIX: the terminal or
// JSON events (imgload/cli/); tests: a recorder. Called on the thread that
// runs the download, in the order things happen.
#pragma once

#include <cstdint>

#include "imgload/download/download_result.h"

namespace imgload {

// The pauses of a run, each a wait on the reply countdown.
enum class Pause : int {
  AFTER_MODE,    // "AA" accepted: the controller switches mode
  AFTER_REOPEN,  // the port reopened at the new speed
  AFTER_FINISH,  // "AG" accepted: the controller writes the flash
  AFTER_CLOSE,   // the port closed after a file
};

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // The paths are usable; the files are about to be read: nothing sent yet.
  virtual void run_started(int files) = 0;
  // "AD" goes out: the transfer notice is shown until the run ends.
  virtual void transfer_started() = 0;
  // "FG" for file `number` (1-based) goes out: `blocks` data requests follow.
  virtual void file_started(int number, const char* path, std::uint32_t blocks) = 0;
  // Data request `number` of `total` goes out.
  virtual void block_sent(std::uint32_t number, std::uint32_t total) = 0;
  // Every block of file `number` accepted; the closing request follows.
  virtual void file_sent(int number) = 0;
  // File `number` is closed; another_follows when the run goes on with the next.
  virtual void file_finished(int number, bool another_follows) = 0;
  // A pause of `seconds` begins.
  virtual void waiting(Pause pause, int seconds) = 0;
  // The run ended: its result, given once, last.
  virtual void ended(const DownloadResult& result) = 0;
};

}  // namespace imgload
