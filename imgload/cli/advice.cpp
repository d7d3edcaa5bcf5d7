// The advice of the command line that does not depend on the platform: how
// it is written, and what each end of a download tells the user: which
// request failed, how, and what to try.
#include "imgload/cli/advice.h"

#include <cstring>

namespace imgload {

namespace {

const char LINE_HINT[] =
    "check the cable and the connectors, keep the line away from noise, or try a lower --speed";

// The request whose reply failed, in words: what it asks and its letters,
// and for the blocks of a file which block.
std::string request_words(const DownloadResult& r) {
  const struct {
    const char* letters;
    const char* words;
  } names[] = {{"AD", "the model request"},    {"AA", "the mode request"},
               {"AB", "the mode query"},       {"EF", "the speed request"},
               {"FG", "the announce request"}, {"AG", "the finish request"}};
  const std::string letters = r.request;
  if (letters == "FD" && r.block != 0) {
    return "the data request (\"FD\") for block " + std::to_string(r.block) + " of " +
           std::to_string(r.blocks);
  }
  if (letters == "FD") return "the end request (\"FD\") after all " + std::to_string(r.blocks) + " blocks";
  for (const auto& n : names) {
    if (letters == n.letters) return std::string(n.words) + " (\"" + letters + "\")";
  }
  return letters.empty() ? "a request" : "the request \"" + letters + "\"";
}

// "No.N: " for a run of several files, where the file says more.
std::string file_label(const DownloadResult& r) {
  return r.files > 1 && r.file > 0 ? "No." + std::to_string(r.file) + ": " : "";
}

}  // namespace

std::string advice_text(const Advice& advice) {
  if (advice.detail.empty() || advice.hint.empty()) return advice.detail + advice.hint;
  return advice.detail + ": " + advice.hint;
}

zp3k::JsonObject& with_advice(zp3k::JsonObject& event, const Advice& advice) {
  if (!advice.detail.empty()) event.text("detail", advice.detail);
  if (!advice.hint.empty()) event.text("hint", advice.hint);
  return event;
}

Advice end_advice(const DownloadResult& result, const std::string& device, long holder_pid) {
  const std::string request = request_words(result);
  switch (result.end) {
    case DownloadEnd::PORT_OPEN_FAILED:
      return port_open_advice(device, result.port_status, holder_pid);
    case DownloadEnd::TIMED_OUT:
      if (result.line_failed) {
        return {file_label(result) + device + " went away during " + request +
                    " (the device is gone or hung up)",
                "check that it is plugged in and the controller powered; see --list-ports"};
      }
      if (!result.answered) {
        return {"nothing answered on " + device, "check the controller's power, the cable and the port"};
      }
      return {file_label(result) + "no reply in time to " + request, ""};
    case DownloadEnd::REPLY_REJECTED:
      if (result.reply == REPLY_NAK) {
        return {file_label(result) + "the controller refused " + request + " with NAK", LINE_HINT};
      }
      return {file_label(result) + "the reply to " + request + " was damaged (its BCC is wrong)",
              LINE_HINT};
    case DownloadEnd::BAD_MODEL:
      return {"the model reply (\"AD\") on " + device + " holds no valid model information",
              "check that a ZP3K controller is on this port"};
    default:
      return {};
  }
}

}  // namespace imgload
