// The progress seam: what a download reports while it runs, in its own words.
// Win32: the progress dialog's controls (imgload/ui/); POSIX: the terminal or
// JSON events (imgload/cli/); tests: a recorder. Called on the thread that
// runs the download, in the order things happen. An event a view does not
// override does nothing.
#pragma once

#include <cstdint>

#include "imgload/download/download_result.h"

namespace imgload {

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // The paths are usable; the files are about to be read: nothing sent yet.
  virtual void run_started(int /*files*/) {}
  // "AD" goes out: the transfer notice is shown until the run ends.
  virtual void transfer_started() {}
  // "FG" for file `number` (1-based) goes out: `blocks` data requests follow.
  virtual void file_started(int /*number*/, const char* /*path*/, std::uint32_t /*blocks*/) {}
  // Data request `number` of `total` goes out.
  virtual void block_sent(std::uint32_t /*number*/, std::uint32_t /*total*/) {}
  // Every block of file `number` accepted; the closing request follows.
  virtual void file_sent(int /*number*/) {}
  // File `number` is closed; another_follows when the run goes on with the next.
  virtual void file_finished(int /*number*/, bool /*another_follows*/) {}
  // The run ended: its result, given once, last.
  virtual void ended(const DownloadResult& /*result*/) {}
};

// The view of a download nobody watches: one that overrides nothing.
ProgressView& no_progress_view();

}  // namespace imgload
