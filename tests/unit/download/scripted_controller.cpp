// The scripted controller of the sequencer tests.
#include "scripted_controller.h"

#include <cstdio>

#include <gtest/gtest.h>

#include "imgload/download/status.h"
#include "imgload/link/frame.h"

namespace imgload {
namespace testing {

namespace {

constexpr std::uint8_t NAK_BYTE = 0x15;
// More requests than any test's run sends: a sequencer that never gives up
// is stopped here, so the test fails instead of hanging.
constexpr std::size_t REQUEST_LIMIT = 5000;

std::string hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

Bytes reply_frame(std::uint8_t first, const std::string& code, const std::string& data,
                  bool bad_bcc) {
  Bytes reply;
  reply.push_back(first);
  for (char c : "00FF" + code + data) reply.push_back(static_cast<std::uint8_t>(c));
  std::uint8_t bcc = 0;
  for (std::uint8_t b : reply) bcc ^= b;
  if (bad_bcc) bcc ^= 0x5A;
  for (char c : hex2(bcc)) reply.push_back(static_cast<std::uint8_t>(c));
  reply.push_back(CR);
  return reply;
}

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

ScriptedController::ScriptedController() { reset(); }

void ScriptedController::reset() {
  script_.clear();
  always_.clear();
  counts_.clear();
  on_request = nullptr;
  model_digits = "30";
  requests.clear();
  files.clear();
  end_values.clear();
  data_xor.clear();
  timeline.clear();
  wait_ticks = 0;
  mode_ = "00";
  receiving_.clear();
  receiving_xor_ = 0;
  last_status_.clear();
  clock.reset();
  port.reset();
  port.attach_clock(&clock);
  port.set_controller([this](FakePort& p, const Bytes& frame) { on_frame(p, frame); });
}

int ScriptedController::count(const std::string& request) const {
  auto it = counts_.find(request);
  return it == counts_.end() ? 0 : it->second;
}

void ScriptedController::on_frame(FakePort& port, const Bytes& frame) {
  if (frame.size() < 10 || frame[0] != ENQ) return;
  const std::string command(frame.begin() + 5, frame.begin() + 7);
  const std::string fields(frame.begin() + 7, frame.end() - 3);
  std::string request = command;
  std::string name = command;
  if (command == "AA" && fields == "01") {
    request = "RUN";
    name = "AA01";
  } else if (command == "AA") {
    name += fields;
  } else if (command == "EF") {
    name += fields;
  } else if (command == "FD") {
    const std::string block = fields.substr(0, 4);
    request = block == "FFFF" ? "FDEND" : "FD";
    name += block;
  }
  requests.push_back(name);
  if (requests.size() > REQUEST_LIMIT) {
    ADD_FAILURE() << "the run does not end: " << requests.size() << " requests";
    return;  // silence: the run times out
  }
  const int occurrence = ++counts_[request];
  if (on_request) on_request(request, occurrence);

  // What the controller does with the request itself.
  if (command == "AA" && request != "RUN") mode_ = fields;
  if (request == "FD") {
    const std::uint8_t* data = frame.data() + 15;
    receiving_.insert(receiving_.end(), data, data + 512);
    for (int i = 0; i < 512; i += 4) receiving_xor_ ^= le32(data + i);
  } else if (request == "FDEND") {
    files.push_back(receiving_);
    data_xor.push_back(receiving_xor_);
    end_values.push_back(static_cast<std::uint32_t>(std::stoul(fields.substr(8, 8), nullptr, 16)));
    receiving_.clear();
    receiving_xor_ = 0;
  } else if (request == "FG") {
    receiving_.clear();
    receiving_xor_ = 0;
  }

  Answer answer = Answer::ACK;
  if (auto it = always_.find(request); it != always_.end()) answer = it->second;
  if (auto it = script_.find({request, occurrence}); it != script_.end()) answer = it->second;

  std::string code = command;
  std::string data;
  if (command == "AD") data = model_digits;
  if (command == "AB") code = mode_;
  switch (answer) {
    case Answer::SILENT:
      return;
    case Answer::NAK:
      port.queue_bytes(reply_frame(NAK_BYTE, code, data, false));
      return;
    case Answer::BAD_BCC:
      port.queue_bytes(reply_frame(ACK, code, data, true));
      return;
    case Answer::OTHER_MODE:
      port.queue_bytes(reply_frame(ACK, mode_ == "07" ? "06" : "07", data, false));
      return;
    case Answer::LOWER_CASE:
      for (char& c : data) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      port.queue_bytes(reply_frame(ACK, code, data, false));
      return;
    case Answer::SPLIT: {
      const Bytes reply = reply_frame(ACK, code, data, false);
      const std::size_t half = reply.size() / 2;
      port.queue_bytes(Bytes(reply.begin(), reply.begin() + static_cast<long>(half)));
      port.queue_empty_read();
      port.queue_bytes(Bytes(reply.begin() + static_cast<long>(half), reply.end()));
      return;
    }
    case Answer::ACK:
      port.queue_bytes(reply_frame(ACK, code, data, false));
      return;
  }
}

void ScriptedController::port_opened(const char* name, std::uint32_t baud_rate, bool opened) {
  note(std::string(opened ? "open " : "open-failed ") + name + " " + std::to_string(baud_rate));
}

void ScriptedController::port_closed() { note("close"); }

void ScriptedController::frame_sent(const std::uint8_t* frame, int length) {
  // The command and its fields, without the 512 raw data bytes.
  std::string text(frame + 5, frame + (length == 530 ? 15 : length - 3));
  note("send " + text);
}

void ScriptedController::reply_read(const std::uint8_t*, int, ReplyStatus status) {
  note("reply " + std::to_string(status));
}

// The events are written down as the progress dialog shows them: texts of
// the status (1014), file (1017) and block (1018) labels, the bar's range
// and steps.
void ScriptedController::run_started(int) { note("reset 3"); }

void ScriptedController::transfer_started() {
  StatusText notice;
  notice.kind = StatusText::TRANSFER_NOTICE;
  last_status_ = status_text(notice);
  note("text 1014 " + last_status_);
}

void ScriptedController::file_started(int number, const char*, std::uint32_t blocks) {
  note("text 1017 No." + std::to_string(number));
  note("reset " + std::to_string(progress_maximum(blocks * 512, 512)));
}

void ScriptedController::block_sent(std::uint32_t number, std::uint32_t) {
  note("text 1018 Block No. " + std::to_string(number));
  note("step");
}

void ScriptedController::file_sent(int) { note("step"); }

void ScriptedController::file_finished(int, bool another_follows) {
  if (another_follows) note("reset 3");
}

void ScriptedController::waiting(Pause, int) {}

void ScriptedController::ended(const DownloadResult& result) {
  last_status_ = status_text(status_for(result));
  note("text 1014 " + last_status_);
}

void ScriptedController::wait_tick() {
  ++wait_ticks;
  clock.wait_tick();
}

void ScriptedController::sleep_ms(unsigned ms) {
  note("sleep " + std::to_string(ms));
  clock.sleep_ms(ms);
}

std::vector<std::string> ScriptedController::lines(const std::string& prefix_filter) const {
  std::vector<std::string> out;
  for (const Entry& e : timeline) {
    if (prefix_filter.empty()) {
      out.push_back(e.what);
      continue;
    }
    // Several prefixes may be given, separated by '|'.
    std::size_t start = 0;
    for (;;) {
      const std::size_t bar = prefix_filter.find('|', start);
      const std::string prefix = prefix_filter.substr(start, bar - start);
      if (e.what.compare(0, prefix.size(), prefix) == 0) {
        out.push_back(e.what);
        break;
      }
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
  }
  return out;
}

std::uint64_t ScriptedController::time_of(const std::string& what, int nth) const {
  for (const Entry& e : timeline) {
    if (e.what == what && --nth == 0) return e.at_ms;
  }
  return ~std::uint64_t{0};
}

}  // namespace testing
}  // namespace imgload
