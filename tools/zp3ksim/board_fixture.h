// Boards in turn on one line, as on a test fixture's fixed cable: the board
// on the line answers through a controller of its own, and between two
// boards the line answers nothing for the swap time. Without boards, one
// controller answers for the whole simulation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim_controller.h"

namespace zp3ksim {

constexpr double DEFAULT_SWAP_MS = 2000;

class BoardFixture {
 public:
  // boards = 0: no boards in turn, one controller throughout.
  BoardFixture(SimOptions options, int boards, double swap_ms);

  // Line events and requests, as the controller takes them; times in ms
  // of a monotonic clock. A request takes its time from the last tick.
  void line_opened(double now_ms);
  void line_closed(double now_ms, bool frame_cut);
  void tick(double now_ms);
  ReplyPlan request(const std::vector<std::uint8_t>& frame, const LineState& line);
  void reply_finished(double now_ms) { last().reply_finished(now_ms); }
  void stray_bytes(std::size_t count, std::uint8_t first);
  void violation(const std::string& what);
  void noise_sent(long count) { last().noise_sent(count); }
  void late_tail_sent(long count) { last().late_tail_sent(count); }
  void vanished(const std::string& where) { last().vanished(where); }
  // The simulation ends now.
  void finish();

  int violations() const;
  int runs_ended() const;
  int served() const { return served_; }
  // Board k's controller (from 1), or null before its turn.
  const SimController* board(int k) const {
    const auto index = static_cast<std::size_t>(k - 1);
    return k >= 1 && index < controllers_.size() ? controllers_[index].get() : nullptr;
  }
  // Every board has had its turn (never without boards).
  bool all_served() const { return boards_ > 0 && served_ == boards_; }
  // Nothing is left to serve: the last board's turn has ended and the line
  // is closed, or the swap time has passed since.
  bool done() const;
  std::string report() const;

 private:
  SimController& last() { return *controllers_.back(); }
  const SimController& last() const { return *controllers_.back(); }
  void start_board();
  void end_board(const std::string& how, double at_ms);
  void note_timing(const std::vector<std::uint8_t>& frame);
  std::string boards_report() const;

  // When each board began to answer, its first "AD" came, and the "AD" its
  // run went on from (the last before its first mode request); ms since the
  // first tick, < 0 for none. For a benchmark of how soon a downloader
  // finds a board.
  struct Timing {
    double answering_ms = -1;
    double first_ad_ms = -1;
    double last_ad_ms = -1;
    double run_ad_ms = -1;
  };
  std::vector<Timing> timings_;
  double origin_ms_ = -1;  // the first tick

  SimOptions options_;
  const int boards_;
  const double swap_ms_;
  std::vector<std::unique_ptr<SimController>> controllers_;  // one per board that came
  std::vector<std::string> turns_;  // how each board's turn ended
  bool answering_ = true;           // a board is on the line
  int served_ = 0;
  double now_ms_ = 0;
  double swap_until_ms_ = 0;
  double ended_at_ms_ = 0;  // when the last turn ended
  bool line_open_ = false;
  double closed_at_ms_ = 0;
  int openings_ = 0;
  int ignored_ = 0;  // requests while no board answered, and each board's farewell "AD"
};

}  // namespace zp3ksim
