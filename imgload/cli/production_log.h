// The production log of the Linux imgload: one JSON line per port and run, appended whole.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/output_queue.h"
#include "imgload/cli/terminal_view.h"

namespace imgload {

// One image of the job as the log names it: the checked bytes' size and
// digest, and the header's version and comment (empty without a header).
struct LoggedFile {
  std::string path;
  std::uint64_t size = 0;
  std::string sha256;
  std::string version;
  std::string comment;
  std::uint32_t start_address = 0;
};

LoggedFile logged_file(const char* path, const std::vector<std::uint8_t>& bytes,
                       const image::ImageSummary& info, std::uint32_t start_address);

// How one port's run (or one board of the loop) ended, with its wall-clock times.
struct PortRecord {
  std::chrono::system_clock::time_point time_start;
  std::chrono::system_clock::time_point time_end;
  std::string port;
  // A board of the production loop: its number on the port (1, 2, ...) and
  // the unit id asked for it (none without --ask-unit-id); unit 0: a single
  // run, whose line has neither field.
  int unit = 0;
  std::optional<std::string> unit_id;
  Outcome outcome;  // as the "end" event tells it
  int model = -1;   // the "AD" reply's model information byte; -1: not learned
};

// The log of one invocation: its file, the host, the job's files. Lines are
// appended by one write each, so several processes may share one log file.
// They are written by a thread of the log's own: a slow file never holds up
// a download, and no line is dropped.
class ProductionLog {
 public:
  // path empty: no log, nothing is appended.
  ProductionLog(std::string path, std::vector<LoggedFile> files);
  // The JSON object of one port's run, without the line end.
  std::string line(const PortRecord& record) const;
  // Queues that line for the log's thread; never waits for the file.
  void append(const PortRecord& record) const;
  // Waits until every queued line is written, at most until deadline; the
  // lines not written (late, or refused by the file), each with its line
  // end, and the reason of the first refusal (empty when none failed).
  std::vector<std::string> settle(OutputClock::time_point deadline, std::string* failure) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string host_;
  std::vector<LoggedFile> files_;
  std::unique_ptr<OutputChannel> channel_;  // null without a log
};

// The platform part (posix/ or win32/log_io.cpp).
// Whether path can take the log: it is opened (and created) without waiting
// and closed; false, with the refusal, for a FIFO, a folder, a device other
// than the null device, or a file the system does not open.
bool check_log_target(const std::string& path, std::string* refusal);
// Opens path for appending (created if missing) as check_log_target does,
// writes text with one write, and closes it; false, with the reason, when it
// cannot be opened or the text was not written whole.
bool append_to_log(const std::string& path, const std::string& text, std::string* reason);
// The host's name in UTF-8; empty when the system does not tell it.
std::string host_name();

}  // namespace imgload
