// What the command line tells a user who can do something about a failure:
// what happened (naming the device or file) and a way out. The platform's
// part (port_open_advice) is in posix/ or win32/port_list.cpp.
#pragma once

#include <string>

#include "cli/json.h"
#include "imgload/download/download_result.h"
#include "platform/status.h"

namespace imgload {

// What a user can do about a failure: what happened (naming the device or
// file) and a way out; either may be empty.
struct Advice {
  std::string detail;
  std::string hint;
};
// "DETAIL: HINT", or the part there is.
std::string advice_text(const Advice& advice);
// The advice's "detail" and "hint" fields of a JSON event, those there are.
zp3k::JsonObject& with_advice(zp3k::JsonObject& event, const Advice& advice);
// A device that did not open: its path, the system's reason (errno, or
// GetLastError on Windows) and, by the kind of failure, what to do;
// holder_pid names the process that has it.
Advice port_open_advice(const std::string& device, const zp3k::Status& why, long holder_pid);
// The end of one port's download: a port that did not open, or a run that
// timed out with nothing answering at all; empty for every other end.
Advice end_advice(const DownloadResult& result, const std::string& device, long holder_pid);

}  // namespace imgload
