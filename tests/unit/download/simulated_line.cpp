// The simulated controller on the fake port, and the record of a run.
#include "simulated_line.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace imgload {
namespace testing {

namespace {

constexpr std::size_t NOISE_BYTES = 40;  // what a NOISE fault sends after its ACK, without CR
constexpr const char* KEYS[] = {"AD", "AA", "AB", "EF", "FG", "FD", "FDEND", "AG", "RUN"};

// The request a frame is, in the controller's terms.
std::string key_of(const Bytes& frame) {
  if (frame.size() < 10) return "?";
  const std::string command(frame.begin() + 5, frame.begin() + 7);
  const std::string fields(frame.begin() + 7, frame.end() - 3);
  if (command == "AA" && fields == "01") return "RUN";
  if (command == "FD" && fields.rfind("FFFF", 0) == 0) return "FDEND";
  return command;
}

}  // namespace

const char* end_name(DownloadEnd end) {
  static const char* const NAMES[] = {"SUCCEEDED",         "STOPPED",          "TIMED_OUT",
                                      "REPLY_REJECTED",    "BAD_MODEL",        "NO_EXTERNAL_FLASH",
                                      "PORT_OPEN_FAILED",  "FILE_OPEN_FAILED", "FILE_READ_FAILED"};
  return NAMES[static_cast<int>(end)];
}

void SimulatedLine::reset(const std::vector<std::string>& faults) {
  zp3ksim::SimOptions options;
  options.quiet = true;
  options.paced = false;
  for (const std::string& given : faults) {
    zp3ksim::Fault fault;
    std::string error;
    if (!zp3ksim::parse_fault(given, &fault, &error)) ADD_FAILURE() << given << ": " << error;
    options.faults.push_back(fault);
  }
  sim_ = std::make_unique<zp3ksim::SimController>(options);
  on_request = nullptr;
  counts_.clear();
  images.clear();
  timeline.clear();
  ticks = 0;
  speed_ = 0;
  line_problem_.clear();
  vanished_ = false;
  clock.reset();
  port.reset();
  port.attach_clock(&clock);
  port.set_controller([this](FakePort& p, const Bytes& frame) { on_frame(p, frame); });
}

int SimulatedLine::count(const std::string& request) const {
  auto it = counts_.find(request);
  return it == counts_.end() ? 0 : it->second;
}

std::string SimulatedLine::counts_of(const std::map<std::string, int>& counts) {
  std::string out;
  for (const char* key : KEYS) {
    auto it = counts.find(key);
    if (it == counts.end() || it->second == 0) continue;
    out += (out.empty() ? "" : " ") + std::string(key) + std::to_string(it->second);
  }
  return out;
}

// The controller judges the frame and plans its reply; the plan is played
// back by the fake port: a split reply as its head, an empty read of 3 s for
// each started 3 s of the gap, then its tail; a vanished device as failed reads.
void SimulatedLine::on_frame(FakePort& port, const Bytes& frame) {
  const std::string key = key_of(frame);
  const int occurrence = ++counts_[key];
  if (on_request) on_request(key, occurrence);
  if (vanished_) {
    port.queue_read_error();
    return;
  }
  // Bytes still queued behind an empty read survived the discard before this request.
  const zp3ksim::LineState line{speed_, line_problem_, true, port.pending_bytes() > 0};
  const zp3ksim::ReplyPlan plan = sim_->request(frame, line);
  if (key == "FDEND") images.push_back(sim_->image());
  if (plan.vanish) {
    vanished_ = true;
    sim_->vanished(key);
    port.queue_read_error();
    return;
  }
  const std::size_t head = plan.split_at > 0 ? plan.split_at : plan.bytes.size();
  const auto split = plan.bytes.begin() + static_cast<long>(head);
  const auto byte_ms = static_cast<std::uint64_t>(plan.byte_gap_ms);
  port.queue_bytes(Bytes(plan.bytes.begin(), split), byte_ms);
  for (int gap = 0; plan.split_at > 0 && gap < plan.split_gap_ms; gap += PORT_READ_TIMEOUT_MS) {
    port.queue_empty_read();
  }
  port.queue_bytes(Bytes(split, plan.bytes.end()), byte_ms);
  if (plan.noise) {
    port.queue_bytes(Bytes(NOISE_BYTES, 'x'));
    sim_->noise_sent(static_cast<long>(NOISE_BYTES));
  }
  sim_->reply_finished(static_cast<double>(clock.now_ms()));
}

void SimulatedLine::port_opened(const char*, std::uint32_t baud_rate, bool opened) {
  note(std::string(opened ? "open " : "open-failed ") + std::to_string(baud_rate));
  if (!opened) return;
  const LineSettings& settings = port.opens().back().settings;
  line_problem_ = settings.data_bits == PORT_DATA_BITS && settings.parity == PORT_PARITY &&
                          settings.stop_bits == PORT_STOP_BITS
                      ? ""
                      : "not 8E1";
  speed_ = baud_rate;
  sim_->line_opened(static_cast<double>(clock.now_ms()));
}

void SimulatedLine::port_closed() {
  note("close");
  sim_->line_closed(static_cast<double>(clock.now_ms()), false);
}

void SimulatedLine::frame_sent(const std::uint8_t* frame, int length) {
  // The command and its fields, without the 512 raw bytes of a data request.
  note("send " + std::string(frame + 5, frame + (length == 530 ? 15 : length - 3)));
}

void SimulatedLine::reply_read(const std::uint8_t*, int, ReplyStatus status) {
  note("reply " + std::to_string(status));
}

void SimulatedLine::file_started(int number, const char*, std::uint32_t blocks) {
  note("file " + std::to_string(number) + " " + std::to_string(blocks));
}

void SimulatedLine::block_sent(std::uint32_t number, std::uint32_t total) {
  note("block " + std::to_string(number) + "/" + std::to_string(total));
}

void SimulatedLine::file_finished(int number, bool another_follows) {
  note("finished " + std::to_string(number) + (another_follows ? " next" : " last"));
}

void SimulatedLine::ended(const DownloadResult& result) {
  note(std::string("end ") + end_name(result.end) + " " + std::to_string(result.file));
}

void SimulatedLine::wait_tick() {
  ++ticks;
  clock.wait_tick();
}

void SimulatedLine::sleep_ms(unsigned ms) {
  note("sleep " + std::to_string(ms));
  clock.sleep_ms(ms);
}

std::vector<std::string> SimulatedLine::lines(const std::vector<std::string>& prefixes) const {
  std::vector<std::string> out;
  for (const Entry& e : timeline) {
    auto starts = [&e](const std::string& prefix) { return e.what.rfind(prefix, 0) == 0; };
    if (std::any_of(prefixes.begin(), prefixes.end(), starts)) out.push_back(e.what);
  }
  return out;
}

const Entry* SimulatedLine::find(const std::string& what, int nth) const {
  for (const Entry& e : timeline) {
    if (e.what == what && --nth == 0) return &e;
  }
  ADD_FAILURE() << "no \"" << what << "\" in the timeline";
  return nullptr;
}

int SimulatedLine::ticks_between(const std::string& from, int nth_from, const std::string& to,
                                 int nth_to) const {
  const Entry* a = find(from, nth_from);
  const Entry* b = find(to, nth_to);
  return a != nullptr && b != nullptr ? b->ticks - a->ticks : -1;
}

}  // namespace testing
}  // namespace imgload
