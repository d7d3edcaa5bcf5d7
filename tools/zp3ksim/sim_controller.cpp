// The simulated controller's protocol side: request checks, the order of a
// run, replies with injected faults, saved images and the report.
#include "sim_controller.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "image/hex.h"
#include "image/image_format.h"
#include "imgload/link/protocol.h"

namespace zp3ksim {

namespace {

using imgload::ACK;
using imgload::CR;
using imgload::ENQ;
using imgload::NAK;
constexpr int DATA_BLOCK = imgload::DATA_BLOCK_SIZE;         // bytes per data request
constexpr std::size_t MIN_DATA_REPLY = 10;        // bytes the data reader needs for a code and BCC
// The simulator sees a close or an opening only when it next looks, and may
// be kept waiting by a busy machine: the bounds keep 200 ms of slack, which
// still tells a missing pause from a kept one.
constexpr double TIMING_SLACK_MS = 200;
constexpr double SPEED_GAP_MIN_MS = 1000 - TIMING_SLACK_MS;    // ms closed around "EF"
constexpr double FINISH_PAUSE_MIN_MS = 2000 - TIMING_SLACK_MS; // ms after the "AG" reply

// Lower case is not a digit of this protocol.
bool parse_hex(const std::string& text, std::uint32_t* out) {
  return !text.empty() && zp3k::parse_hex(text.c_str(), static_cast<int>(text.size()), out,
                                          zp3k::HexCase::UPPER);
}

// Every value shown fits its digits (a byte in 2, a block number in 4).
std::string hex(std::uint32_t value, int digits) {
  char text[9];
  zp3k::to_hex_digits(static_cast<int>(value), digits, text);
  return text;
}

// The downloader's reply countdown after each request, seconds.
int countdown_of(const std::string& key) {
  if (key == "AB") return 10;
  if (key == "FG") return 60;
  if (key == "FD") return 30;
  if (key == "FDEND") return 35;
  return 1;  // AD, AA, EF, AG (and RUN, whose reply is not read)
}
bool is_retried(const std::string& key) {
  return key == "AD" || key == "AA" || key == "AB" || key == "EF" || key == "AG";
}

// How an injected fault shapes a framed reply.
struct ReplyShape {
  std::uint8_t first = ACK;
  bool bad_bcc = false;
  bool lower = false;
  bool timing_unsure = false;  // whether the reply is complete within the downloader's wait
};

// Applies the fault to the plan, the shape and the reply data; false when
// the plan is final as it is (no reply, a reply without end, a vanishing).
bool shape_reply(const Fault* fault, ReplyPlan* plan, ReplyShape* shape, std::string* data) {
  if (fault == nullptr) return true;
  switch (fault->kind) {
    case FaultKind::NAK: shape->first = NAK; break;
    case FaultKind::SILENT: return false;
    case FaultKind::NOISE:
      // A reply that starts and never ends: the downloader must give up.
      plan->bytes.push_back(ACK);
      plan->noise = true;
      return false;
    case FaultKind::VANISH:
      plan->vanish = true;
      return false;
    case FaultKind::BAD_BCC: shape->bad_bcc = true; break;
    case FaultKind::LOWER: shape->lower = true; break;
    case FaultKind::SPLIT:
      plan->split_gap_ms = fault->number;
      shape->timing_unsure = true;
      break;
    case FaultKind::SLOW:
      plan->byte_gap_ms = fault->number;
      shape->timing_unsure = true;
      break;
    case FaultKind::LONG: *data += std::string(static_cast<std::size_t>(fault->number), '0'); break;
    case FaultKind::OTHER_MODE:
    case FaultKind::MODEL: break;
  }
  return true;
}

std::string lower_case(std::string digits) {
  for (char& c : digits) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  return digits;
}

// The BCC digits as the shape spoils them.
std::string bcc_digits(std::uint8_t bcc, const ReplyShape& shape) {
  if (shape.bad_bcc) bcc ^= 0x21;
  std::string digits = hex(bcc, 2);
  if (!shape.lower) return digits;
  digits = lower_case(digits);
  // Digits without letters read the same in either case: spoil them too.
  if (digits == hex(bcc, 2)) digits = lower_case(hex(bcc ^ 0x0A, 2));
  return digits;
}

// In the order of State.
const char STATE_NAMES[][48] = {
    "waiting for \"AD\"",
    "waiting for the mode request",
    "waiting for \"AB\"",
    "waiting for \"EF\"",
    "waiting for the close after \"EF\"",
    "waiting for the reopening at the new speed",
    "waiting for \"FG\"",
    "receiving data requests",
    "waiting for \"AG\"",
    "waiting for the close after \"AG\"",
    "waiting for the reopening at 9600 bit/s",
    "waiting for the next file or the run request",
    "run request received",
};

}  // namespace

SimController::SimController(SimOptions options) : options_(std::move(options)) {}

const char* SimController::state_name(State s) { return STATE_NAMES[static_cast<int>(s)]; }

void SimController::note(const std::string& line) const {
  if (!options_.quiet) std::fprintf(stderr, "zp3ksim: %s\n", line.c_str());
}

void SimController::violation(const std::string& what) {
  ++violation_count_;
  if (violation_list_.size() < 50) violation_list_.push_back(what);
  std::fprintf(stderr, "zp3ksim: VIOLATION: %s\n", what.c_str());
}

void SimController::stray_bytes(std::size_t count, std::uint8_t first) {
  violation(std::to_string(count) + " byte(s) outside any request frame (first 0x" +
            hex(first, 2) + ")");
}

void SimController::end_run(const char* how) {
  if (run_active_) {
    ++runs_ended_;
    runs_.push_back(how);
    note(std::string("run ended: ") + how);
  }
  run_active_ = false;
  must_end_ = false;
  state_ = State::IDLE;
  last_key_.clear();
  failures_ = 0;
}

void SimController::line_opened(double now_ms) {
  ++openings_;
  fresh_opening_ = true;
  if (state_ == State::FINISH_CLOSED) state_ = State::BETWEEN;
  if (state_ != State::SPEED_CLOSED) return;
  if (now_ms - closed_at_ms_ < SPEED_GAP_MIN_MS) {
    violation("the port was reopened " + std::to_string(static_cast<int>(now_ms - closed_at_ms_)) +
              " ms after the close that follows \"EF\" (at least 1000 ms)");
  }
  state_ = State::SPEED_REOPENED;
}

void SimController::line_closed(double now_ms, bool frame_cut) {
  if (frame_cut) violation("the port was closed in the middle of a request frame");
  closed_at_ms_ = now_ms;
  switch (state_) {
    case State::SPEED_SET:
      state_ = State::SPEED_CLOSED;
      return;
    case State::FINISHED:
      if (now_ms - last_reply_at_ms_ < FINISH_PAUSE_MIN_MS) {
        violation("the port was closed " +
                  std::to_string(static_cast<int>(now_ms - last_reply_at_ms_)) +
                  " ms after the \"AG\" reply (a pause of 3 s comes first)");
      }
      state_ = State::FINISH_CLOSED;
      return;
    case State::ENDED:
      end_run("with the run request");
      return;
    case State::BETWEEN:
      end_run("after the last file, without run request");
      return;
    default:
      end_run(early_end().c_str());
      return;
  }
}

std::string SimController::early_end() const {
  std::string how = std::string("early, while ") + state_name(state_);
  if (must_end_) how += " (" + must_end_reason_ + ")";
  return how;
}

void SimController::end_turn() {
  if (state_ == State::ENDED) {
    end_run("with the run request");
  } else if (state_ == State::FINISH_CLOSED || state_ == State::BETWEEN) {
    end_run("after the last file, without run request");
  } else {
    end_run(early_end().c_str());
  }
}

void SimController::tick(double now_ms) {
  if (state_ == State::FINISH_CLOSED && now_ms - closed_at_ms_ >= CLOSED_FOR_GOOD_MS) finish();
}

void SimController::finish() {
  if (state_ == State::FINISH_CLOSED) end_run("after the last file, without run request");
}

bool SimController::check_frame(const std::vector<std::uint8_t>& frame, std::string* key,
                                std::string* fields) {
  const std::size_t n = frame.size();
  if (n < 10 || frame[0] != ENQ || frame[n - 1] != CR) {
    violation("malformed request frame of " + std::to_string(n) + " bytes");
    return false;
  }
  const std::string text(frame.begin(), frame.end());
  const std::string command = text.substr(5, 2);
  if (text.substr(1, 2) != "00") violation("station number \"" + text.substr(1, 2) + "\", not \"00\"");
  if (text.substr(3, 2) != "FF") violation("reserved field \"" + text.substr(3, 2) + "\", not \"FF\"");
  std::uint8_t bcc = 0;
  for (std::size_t i = 0; i + 3 < n; ++i) bcc ^= frame[i];
  const std::string digits = text.substr(n - 3, 2);
  if (digits != hex(bcc, 2)) {
    violation("request \"" + command + "\" has BCC \"" + digits + "\", expected \"" + hex(bcc, 2) + "\"");
    return false;
  }
  *fields = text.substr(7, n - 10);
  const std::string& f = *fields;
  std::uint32_t v = 0;
  auto bad = [&](const std::string& why) {
    violation("request \"" + command + "\": " + why);
    return false;
  };
  *key = command;  // but "RUN" for the run request, "FDEND" for the end request
  if (command == "AD" || command == "AB" || command == "AG") {
    if (!f.empty()) return bad("unexpected fields");
  } else if (command == "AA") {
    if (f != "06" && f != "07" && f != "01") return bad("mode \"" + f + "\"");
    if (f == "01") *key = "RUN";
  } else if (command == "EF") {
    if (f.size() != 4 || !parse_hex(f.substr(0, 2), &v) || v < 6 || v > 10 || f.substr(2) != "12") {
      return bad("fields \"" + f + "\"");
    }
  } else if (command == "FG") {
    if (f.size() != 16 || !parse_hex(f, &v)) return bad("fields \"" + f + "\"");
  } else if (command == "FD") {
    if (f.size() < 8 || !parse_hex(f.substr(0, 4), &v)) return bad("block number field");
    if (v == 0xFFFF) {
      if (f.size() != 16 || f.substr(4, 4) != "0000" || !parse_hex(f.substr(8), &v)) {
        return bad("end request fields \"" + f + "\"");
      }
      *key = "FDEND";
    } else if (f.size() != 8 + DATA_BLOCK || f.substr(4, 4) != "0200") {
      return bad("length field");
    }
  } else {
    return bad("unknown command");
  }
  return true;
}

// The speed announced with "EF" from the reopening up to "AG", else 9600 bit/s.
std::uint32_t SimController::expected_speed() const {
  const bool changed =
      state_ == State::SPEED_REOPENED || state_ == State::RECEIVING || state_ == State::RECEIVED;
  return changed ? selected_speed_ : BASE_SPEED;
}

bool SimController::allowed(const std::string& key) const {
  switch (state_) {
    case State::IDLE: return key == "AD";
    case State::IDENTIFIED: return key == "AA";
    case State::MODE_SET: return key == "AB";
    case State::MODE_CONFIRMED: return key == "EF";
    case State::SPEED_REOPENED: return key == "FG";
    case State::RECEIVING: return key == (blocks_received_ * DATA_BLOCK < size_ ? "FD" : "FDEND");
    case State::RECEIVED: return key == "AG";
    case State::BETWEEN: return key == "AA" || key == "RUN";
    default: return false;
  }
}

// What the downloader's readers make of a complete reply: they keep up to
// FRAME_BUFFER_SIZE bytes of it up to its CR; the plain reader looks at the
// first byte, the data reader at the BCC of what it kept (a code and at
// least 10 bytes), then the "AD" and "AB" replies are judged by content.
SimController::Outcome SimController::judge_as_downloader(const std::string& key,
                                                          const std::vector<std::uint8_t>& reply) {
  std::size_t kept = 0;
  bool complete = false;
  for (std::uint8_t b : reply) {
    if (kept < static_cast<std::size_t>(imgload::FRAME_BUFFER_SIZE)) ++kept;
    if (b == CR) {
      complete = true;
      break;
    }
  }
  if (!complete) return Outcome::FAIL;  // it never ends: the downloader gives up
  if (key != "AD" && key != "AB") return reply[0] == ACK ? Outcome::ACCEPT : Outcome::FAIL;  // plain reader
  if (kept < MIN_DATA_REPLY) return Outcome::FAIL;
  std::uint8_t bcc = 0;
  for (std::size_t i = 0; i + 4 <= kept; ++i) bcc ^= reply[i];
  if (std::string(reply.begin() + static_cast<long>(kept) - 3, reply.begin() + static_cast<long>(kept) - 1) !=
      hex(bcc, 2)) {
    return Outcome::FAIL;
  }
  if (key == "AD") {
    std::uint32_t b = 0;
    if (!parse_hex(std::string(reply.begin() + 7, reply.begin() + 9), &b)) return Outcome::STOPS;
    has_external_flash_ = (b & 0x30) == 0x30 || (b & 0x08) != 0;
  }
  if (key == "AB" && std::string(reply.begin() + 5, reply.begin() + 7) != requested_mode_) {
    return Outcome::OTHER;
  }
  return Outcome::ACCEPT;
}

ReplyPlan SimController::build_reply(const std::string& key, const std::string& command,
                                     const Fault* fault, const LineState& line, Outcome* outcome) {
  std::string code = command;
  std::string data;
  if (key == "AD") data = fault != nullptr && fault->kind == FaultKind::MODEL ? fault->text : options_.model;
  if (key == "AB") {
    // The controller is in the mode last asked for, unless a lag is injected.
    code = requested_mode_;
    if (fault != nullptr && fault->kind == FaultKind::OTHER_MODE) {
      code = requested_mode_ == "07" ? "06" : "07";
    }
  }
  ReplyPlan plan;
  ReplyShape shape;
  *outcome = Outcome::FAIL;
  if (!shape_reply(fault, &plan, &shape, &data)) return plan;
  // First byte, "00FF", code, data, BCC digits and CR.
  const std::string body = "00FF" + code + data;
  std::vector<std::uint8_t>& out = plan.bytes;
  out.push_back(shape.first);
  out.insert(out.end(), body.begin(), body.end());
  std::uint8_t bcc = 0;
  for (std::uint8_t b : out) bcc ^= b;
  const std::string digits = bcc_digits(bcc, shape);
  out.insert(out.end(), digits.begin(), digits.end());
  out.push_back(CR);
  if (plan.split_gap_ms > 0) plan.split_at = out.size() / 2;
  *outcome = judge_as_downloader(key, plan.bytes);
  // A reply that takes longer on the line than the downloader surely waits
  // (its countdown may run out a second early, the grace after it lasts 2 s
  // at the least) may or may not be taken.
  const double surely_waited_ms = (countdown_of(key) + 1) * 1000.0 - TIMING_SLACK_MS;
  const double wire_ms = static_cast<double>(plan.bytes.size()) * ms_per_character(line, options_.paced);
  const bool timing_unsure = shape.timing_unsure || wire_ms > surely_waited_ms;
  if (timing_unsure && (*outcome == Outcome::ACCEPT || *outcome == Outcome::STOPS)) {
    *outcome = Outcome::UNSURE;
  }
  return plan;
}

// A request sent again after a reply the downloader could not accept goes
// back to where the first one was made. So does, on a board of a fixture,
// the model request asked again on the same opening right after its answer:
// the production loop's quiet check that a board is there, then the run's
// own "AD".
void SimController::step_back_if_repeated(const std::string& key, const std::string& command,
                                          const std::string& fields) {
  const bool model_again =
      options_.board > 0 && key == "AD" && last_key_ == "AD" && state_ == State::IDENTIFIED;
  // A data request is the same request again only with the same block number.
  const bool repeat = model_again ||
                      (!last_key_.empty() && key == last_key_ && last_outcome_ != Outcome::ACCEPT &&
                       (key != "FD" || fields.compare(0, 4, last_block_) == 0));
  if (repeat) state_ = state_before_last_;
  if (repeat && last_outcome_ == Outcome::UNSURE) {
    // The reply that might have been taken was not: a failed attempt, which
    // only the retried requests may follow with another, up to the third.
    failures_ = failures_before_last_ + 1;
    if (!is_retried(key)) {
      violation("request \"" + command + "\" sent again after a failed reply (it is not retried)");
    } else if (failures_ >= 3) {
      violation("request \"" + command + "\" sent again after its third failed reply");
    }
  }
}

ReplyPlan SimController::request(const std::vector<std::uint8_t>& frame, const LineState& line) {
  std::string key;
  std::string fields;
  if (!check_frame(frame, &key, &fields)) return {};  // a bad frame gets no answer
  const std::string command(frame.begin() + 5, frame.begin() + 7);
  if (key == "AD" && fresh_opening_ && state_ == State::BETWEEN) {
    // The line was closed after the last file and opened for the next run.
    end_run("after the last file, without run request");
  }
  fresh_opening_ = false;
  const int occurrence = ++counts_[key];
  const int life_occurrence = options_.life_counts ? ++(*options_.life_counts)[key] : occurrence;

  if (must_end_) {
    violation("request \"" + command + "\" after the run should have ended (" + must_end_reason_ + ")");
  }
  if (line.known && !line.problem.empty()) {
    violation("line settings at \"" + command + "\": " + line.problem);
  }
  if (line.known) ++speeds_[line.speed];

  step_back_if_repeated(key, command, fields);
  if (!must_end_ && !allowed(key)) {
    violation("request \"" + command + (key == "FD" ? " " + fields.substr(0, 4) : "") +
              "\" while " + state_name(state_));
  }
  if (line.known && line.speed != expected_speed()) {
    violation("request \"" + command + "\" at " + std::to_string(line.speed) + " bit/s, expected " +
              std::to_string(expected_speed()));
  }
  if (key == "AD" && state_ == State::IDLE) run_active_ = true;

  const Fault* fault = find_fault(options_.faults, key, life_occurrence, options_.board, occurrence);
  if (fault != nullptr) {
    ++faults_injected_;
    note("fault " + fault->given + " on \"" + command + "\" #" + std::to_string(occurrence));
  }
  Outcome outcome = Outcome::ACCEPT;
  ReplyPlan plan = build_reply(key, command, fault, line, &outcome);
  // Bytes the downloader may find in front of this reply can make it fail
  // a reply that is good, or take one that is not; a reply that never ends
  // stays a failure.
  if (line.stale && !plan.bytes.empty() && !plan.noise) outcome = Outcome::UNSURE;
  answered_ = answered_ || !plan.bytes.empty();

  state_before_last_ = state_;
  last_key_ = key;
  last_block_ = fields.substr(0, 4);
  last_outcome_ = outcome;
  failures_before_last_ = failures_;
  advance(key, fields, outcome);
  return plan;
}

void SimController::advance(const std::string& key, const std::string& fields, Outcome outcome) {
  if (outcome == Outcome::FAIL) {
    if (!is_retried(key) || ++failures_ >= 3) {
      must_end_ = true;
      must_end_reason_ = is_retried(key) ? "third failed reply to \"" + key + "\""
                                         : "failed reply to \"" + key + "\"";
    }
    return;
  }
  if (outcome == Outcome::STOPS) {
    must_end_ = true;
    must_end_reason_ = "model information refused";
    return;
  }
  if (outcome == Outcome::OTHER) return;  // "AB" again, no attempt used
  if (key == "AD") {
    state_ = State::IDENTIFIED;
  } else if (key == "AA") {
    requested_mode_ = fields;
    state_ = State::MODE_SET;
  } else if (key == "AB") {
    state_ = State::MODE_CONFIRMED;
  } else if (key == "EF") {
    std::uint32_t v = 0;
    parse_hex(fields.substr(0, 2), &v);
    selected_speed_ = (v >= 6 && v <= 10) ? imgload::SPEEDS[v - 6] : BASE_SPEED;  // codes 06..0A
    state_ = State::SPEED_SET;
  } else if (key == "FG") {
    start_file(fields);
  } else if (key == "FD") {
    take_block(fields);
  } else if (key == "FDEND") {
    end_file(fields);
  } else if (key == "AG") {
    state_ = State::FINISHED;
  } else if (key == "RUN") {
    state_ = State::ENDED;
  }
  failures_ = 0;
}

// "FG": the file announced, checked against the mode and the model.
void SimController::start_file(const std::string& fields) {
  parse_hex(fields.substr(0, 8), &start_address_);
  parse_hex(fields.substr(8, 8), &size_);
  if ((start_address_ == 0) != (requested_mode_ == "07")) {
    violation("\"FG\" start address " + hex(start_address_, 8) + " after mode \"" +
              requested_mode_ + "\"");
  }
  if (size_ == 0 || size_ % DATA_BLOCK != 0) {
    violation("\"FG\" size " + std::to_string(size_) + " is not a whole number of data blocks");
  }
  if (!has_external_flash_ && start_address_ >= imgload::EXTERNAL_FLASH_FIRST &&
      start_address_ <= imgload::EXTERNAL_FLASH_LAST) {
    violation("\"FG\" into external flash at " + hex(start_address_, 8) +
              " on a model without it");
  }
  next_block_ = 1;
  blocks_received_ = 0;
  check_value_ = 0;
  data_.clear();
  state_ = State::RECEIVING;
}

// "FD": one data block, checked against the numbering and the size.
void SimController::take_block(const std::string& fields) {
  std::uint32_t v = 0;
  parse_hex(fields.substr(0, 4), &v);
  if (v != (next_block_ & 0xFFFF)) {
    violation("data request block " + hex(v, 4) + ", expected " + hex(next_block_ & 0xFFFF, 4));
  }
  if (blocks_received_ * DATA_BLOCK >= size_) {
    violation("more data requests than the announced " + std::to_string(size_) + " bytes");
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(fields.data() + 8);
  data_.insert(data_.end(), bytes, bytes + DATA_BLOCK);
  check_value_ = image::xor_words(bytes, DATA_BLOCK, check_value_);
  next_block_ = (next_block_ & ~0xFFFFu) + v + 1;  // one wrong number is reported once
  ++blocks_received_;
}

// The end request: the size and check value judged, the file noted and saved.
void SimController::end_file(const std::string& fields) {
  std::uint32_t v = 0;
  parse_hex(fields.substr(8, 8), &v);
  if (blocks_received_ * DATA_BLOCK != size_) {
    violation("end request after " + std::to_string(blocks_received_ * DATA_BLOCK) +
              " bytes of the announced " + std::to_string(size_));
  }
  const bool check_ok = v == check_value_;
  if (!check_ok) {
    violation("end request check value " + hex(v, 8) + ", the data received gives " +
              hex(check_value_, 8));
  }
  std::string line = "file " + std::to_string(files_.size() + 1) + ": start " +
                     hex(start_address_, 8) + " size " + std::to_string(size_) +
                     " check value " + hex(v, 8) + (check_ok ? " ok" : " WRONG");
  if (!options_.save_dir.empty()) line += save_image();
  files_.push_back(line);
  note(line);
  state_ = State::RECEIVED;
}

// The received file as the next image-N.bin of the save folder; what the
// report line says of it.
std::string SimController::save_image() {
  const std::string path = options_.save_dir + "/image-" + std::to_string(images_saved_ + 1) + ".bin";
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(data_.size()));
  if (!out) return " NOT saved (" + path + ")";
  ++images_saved_;
  return " saved " + path;
}

std::string SimController::counts_text(const RequestCounts& counts) {
  std::string text;
  for (const char* k : {"AD", "AA", "AB", "EF", "FG", "FD", "FDEND", "AG", "RUN"}) {
    auto it = counts.find(k);
    text += std::string(text.empty() ? "" : " ") + k + "=" +
            std::to_string(it == counts.end() ? 0 : it->second);
  }
  return text;
}

std::string SimController::report() const {
  std::ostringstream r;
  r << "zp3ksim report\n";
  report_body(r, "  ");
  r << "violations: " << violation_count_ << "\n";
  return r.str();
}

void SimController::report_body(std::ostream& r, const std::string& in) const {
  r << in << "openings: " << openings_ << "\n";
  r << in << "requests: " << counts_text(counts_) << "\n";
  r << in << "speeds of requests:";
  for (const auto& [speed, count] : speeds_) r << " " << speed << "x" << count;
  r << "\n" << in << "faults injected: " << faults_injected_ << "\n";
  if (noise_bytes_ > 0) r << in << "noise bytes sent: " << noise_bytes_ << "\n";
  if (late_tail_bytes_ > 0) {
    r << in << "late tail bytes sent (after the downloader moved on): " << late_tail_bytes_ << "\n";
  }
  if (!vanished_at_.empty()) r << in << "device vanished at " << vanished_at_ << "\n";
  r << in << "runs ended: " << runs_ended_ << "\n";
  for (const std::string& s : runs_) r << in << "  run ended " << s << "\n";
  r << in << "files received: " << files_.size() << "\n";
  for (const std::string& f : files_) r << in << "  " << f << "\n";
  for (const std::string& v : violation_list_) r << in << "violation: " << v << "\n";
}

}  // namespace zp3ksim
