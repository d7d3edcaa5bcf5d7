// The advice of the command line that does not depend on the platform: how
// it is written, and which ends of a download get some.
#include "imgload/cli/port_list.h"

namespace imgload {

std::string advice_text(const Advice& advice) {
  if (advice.detail.empty() || advice.hint.empty()) return advice.detail + advice.hint;
  return advice.detail + ": " + advice.hint;
}

Advice end_advice(const DownloadResult& result, const std::string& device, long holder_pid) {
  if (result.end == DownloadEnd::PORT_OPEN_FAILED) {
    return port_open_advice(device, result.system_error, holder_pid);
  }
  if (result.end == DownloadEnd::TIMED_OUT && !result.answered) {
    return {"nothing answered on " + device, "check the controller's power, the cable and the port"};
  }
  return {};
}

}  // namespace imgload
