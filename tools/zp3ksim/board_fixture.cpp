// Boards in turn on one line: which board answers, the silence between
// boards, where each board's images go and the report of every board.
#include "board_fixture.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace zp3ksim {

namespace {

// A model request as it stands on the line: ENQ, station, reserved, "AD", BCC, CR.
bool is_model_request(const std::vector<std::uint8_t>& frame) {
  return frame.size() == 10 && frame[0] == 0x05 && frame[5] == 'A' && frame[6] == 'D' &&
         frame[9] == 0x0D;
}

// A time of the timing line: "at 1.234 s", or "none".
std::string seconds_text(double ms) {
  if (ms < 0) return "none";
  char text[32];
  std::snprintf(text, sizeof text, "at %.3f s", ms / 1000);
  return text;
}

}  // namespace

BoardFixture::BoardFixture(SimOptions options, int boards, double swap_ms)
    : options_(std::move(options)), boards_(boards), swap_ms_(swap_ms) {
  if (boards_ == 0) {
    controllers_.push_back(std::make_unique<SimController>(options_));
    return;
  }
  options_.life_counts = std::make_shared<RequestCounts>();
  start_board();
}

// The next board comes onto the line, its images saved in a folder of its own.
void BoardFixture::start_board() {
  SimOptions o = options_;
  o.board = static_cast<int>(controllers_.size()) + 1;
  if (!o.save_dir.empty()) {
    o.save_dir += "/board-" + std::to_string(o.board);
    std::error_code error;  // a folder that cannot be made shows as images NOT saved
    std::filesystem::create_directory(o.save_dir, error);
  }
  controllers_.push_back(std::make_unique<SimController>(o));
  Timing timing;
  // From the end of the swap time on, whenever the line is next looked at.
  timing.answering_ms = controllers_.size() == 1 ? 0 : swap_until_ms_ - origin_ms_;
  timings_.push_back(timing);
  answering_ = true;
  if (!options_.quiet) std::fprintf(stderr, "zp3ksim: board %d answers\n", o.board);
}

// The board on the line leaves; the line is silent until the next one, due
// the swap time after at_ms.
void BoardFixture::end_board(const std::string& how, double at_ms) {
  last().end_turn();
  turns_.push_back(how);
  answering_ = false;
  ++served_;
  ended_at_ms_ = at_ms;
  swap_until_ms_ = at_ms + swap_ms_;
  if (!options_.quiet) {
    std::fprintf(stderr, "zp3ksim: board %d leaves: %s\n", served_, how.c_str());
  }
}

void BoardFixture::line_opened(double now_ms) {
  ++openings_;
  line_open_ = true;
  if (answering_) last().line_opened(now_ms);
}

void BoardFixture::line_closed(double now_ms, bool frame_cut) {
  line_open_ = false;
  closed_at_ms_ = now_ms;
  if (answering_) last().line_closed(now_ms, frame_cut);
}

void BoardFixture::tick(double now_ms) {
  now_ms_ = now_ms;
  if (origin_ms_ < 0) origin_ms_ = now_ms;
  if (answering_) last().tick(now_ms);
  if (boards_ == 0) return;
  // A board that has answered and whose line stays closed longer than the
  // swap time (and than a run keeps it closed) has left with the close.
  const double for_good_ms = std::max(swap_ms_, CLOSED_FOR_GOOD_MS);
  if (answering_ && last().answered() && !line_open_ && now_ms - closed_at_ms_ >= for_good_ms) {
    end_board("the line stayed closed after its run", closed_at_ms_);
  }
  if (!answering_ && served_ < boards_ && now_ms >= swap_until_ms_) start_board();
}

ReplyPlan BoardFixture::request(const std::vector<std::uint8_t>& frame, const LineState& line) {
  if (!answering_) {
    ++ignored_;
    return {};
  }
  // A model request as the first request after a closing and reopening
  // asks whether the next board is there: this one has left.
  if (boards_ > 0 && last().answered() && last().fresh_opening() && is_model_request(frame)) {
    end_board("the downloader asked for the next board (\"AD\" after a close)", now_ms_);
    ++ignored_;
    return {};
  }
  if (boards_ > 0) note_timing(frame);
  ReplyPlan plan = last().request(frame, line);
  if (boards_ > 0 && last().run_requested()) end_board("its run ended with the run request", now_ms_);
  return plan;
}

// The board's first "AD", and the "AD" its first mode request follows.
void BoardFixture::note_timing(const std::vector<std::uint8_t>& frame) {
  Timing& t = timings_.back();
  if (frame.size() < 7) return;
  const double at = now_ms_ - origin_ms_;
  if (frame[5] == 'A' && frame[6] == 'D') {
    if (t.first_ad_ms < 0) t.first_ad_ms = at;
    t.last_ad_ms = at;
  } else if (frame[5] == 'A' && frame[6] == 'A' && t.run_ad_ms < 0) {
    t.run_ad_ms = t.last_ad_ms;
  }
}

// What comes between boards is taken in and not judged.
void BoardFixture::stray_bytes(std::size_t count, std::uint8_t first) {
  if (answering_) last().stray_bytes(count, first);
}

void BoardFixture::violation(const std::string& what) {
  if (answering_) last().violation(what);
}

void BoardFixture::finish() {
  if (answering_) last().finish();
}

int BoardFixture::violations() const {
  int n = 0;
  for (const auto& c : controllers_) n += c->violations();
  return n;
}

int BoardFixture::runs_ended() const {
  int n = 0;
  for (const auto& c : controllers_) n += c->runs_ended();
  return n;
}

bool BoardFixture::done() const {
  return all_served() && (!line_open_ || now_ms_ - ended_at_ms_ >= swap_ms_);
}

std::string BoardFixture::report() const {
  return boards_ == 0 ? controllers_.front()->report() : boards_report();
}

// The totals over the boards, then each board's own report.
std::string BoardFixture::boards_report() const {
  RequestCounts counts;
  int faults = 0;
  int files = 0;
  for (const auto& c : controllers_) {
    for (const auto& [key, n] : c->counts()) counts[key] += n;
    faults += c->faults_injected();
    files += c->files_received();
  }
  std::ostringstream r;
  char swap[32];
  std::snprintf(swap, sizeof swap, "%.1f", swap_ms_ / 1000);
  r << "zp3ksim report\n";
  r << "  boards: " << boards_ << " in turn, " << swap << " s between them; served: " << served_
    << " of " << boards_ << "\n";
  r << "  openings: " << openings_ << "\n";
  r << "  requests: " << SimController::counts_text(counts) << "\n";
  r << "  requests ignored while no board answered: " << ignored_ << "\n";
  r << "  faults injected: " << faults << "\n";
  r << "  runs ended: " << runs_ended() << "\n";
  r << "  files received: " << files << "\n";
  for (int k = 1; k <= boards_; ++k) {
    const auto index = static_cast<std::size_t>(k - 1);
    const SimController* c = index < controllers_.size() ? controllers_[index].get() : nullptr;
    r << "  board " << k << ": "
      << (k <= served_ ? "served, " + turns_[index]
                       : c != nullptr ? "on the line when the simulation ended" : "not reached")
      << "\n";
    if (c == nullptr) continue;
    const Timing& t = timings_[index];
    r << "    timing: answering " << seconds_text(t.answering_ms) << ", first \"AD\" "
      << seconds_text(t.first_ad_ms) << ", the run's \"AD\" " << seconds_text(t.run_ad_ms) << "\n";
    c->report_body(r, "    ");
    r << "    violations: " << c->violations() << "\n";
  }
  r << "violations: " << violations() << "\n";
  return r.str();
}

}  // namespace zp3ksim
