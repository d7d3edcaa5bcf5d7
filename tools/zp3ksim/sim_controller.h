// The simulated controller's protocol side: it judges every request frame
// (framing, fields, order, block numbering, check value, line settings and
// speed, pauses around the port closings), decides the reply with any
// injected fault, saves each received image and keeps the report.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "faults.h"

namespace zp3ksim {

constexpr std::uint32_t BASE_SPEED = 9600;  // bit/s
constexpr double BITS_PER_CHARACTER = 11;   // start, 8 data, parity, stop

// The line as the master side sees it when a request starts.
struct LineState {
  std::uint32_t speed;    // bit/s, 0 when not one of the known speeds
  std::string problem;    // empty when the settings are the downloader's raw 8E1 ones
  bool known = true;      // false when the downloader had closed the line already
  // Bytes went out close to this request that the downloader may not have
  // dropped before sending it (noise, a reply it gave up on, a late tail):
  // its reply may then reach the downloader's reader behind them.
  bool stale = false;
};

// The ms one character takes on the line; 0 when unpaced or at an unknown speed.
inline double ms_per_character(const LineState& line, bool paced) {
  return paced && line.speed > 0 ? BITS_PER_CHARACTER * 1000.0 / line.speed : 0;
}

struct ReplyPlan {
  std::vector<std::uint8_t> bytes;  // empty: no reply
  std::size_t split_at = 0;         // > 0: the tail from here on follows split_gap_ms later
  int split_gap_ms = 0;
  int byte_gap_ms = 0;              // > 0: a pause between bytes
  bool noise = false;               // after the bytes, more without CR until the next request
  bool vanish = false;              // the device disappears instead of replying
};

using RequestCounts = std::map<std::string, int>;

struct SimOptions {
  std::string model = "30";  // "AD" model-information characters
  std::vector<Fault> faults;
  std::string save_dir;      // empty: received images are not saved
  bool quiet = false;
  bool paced = true;         // replies at the pace of the line (11 bits a character)
  int board = 0;             // the board this controller is (faults bound to it), 0: none
                             // (a board may be asked for its model again before its run)
  // Requests over the simulator's life, shared by the boards in turn;
  // null: this controller's own counts are the life's.
  std::shared_ptr<RequestCounts> life_counts;
};

// A run whose last file was received and whose line then stays closed this
// long has ended without run request: the downloader reopens 1 s after the
// close when more is to come.
constexpr double CLOSED_FOR_GOOD_MS = 3000;

class SimController {
 public:
  explicit SimController(SimOptions options);

  // Line events, with times in ms of a monotonic clock.
  void line_opened(double now_ms);
  void line_closed(double now_ms, bool frame_cut);
  // Time passes: a run left after its last file on a line closed for good ends.
  void tick(double now_ms);
  // The simulation ends: a run left after its last file on a closed line
  // counts as ended.
  void finish();
  // The board leaves the line: the run in progress, if any, ends as its
  // state says (with the run request, after the last file, or early).
  void end_turn();
  // A complete request frame; returns the reply to send.
  ReplyPlan request(const std::vector<std::uint8_t>& frame, const LineState& line);
  // The last byte of the reply to the last request has been sent.
  void reply_finished(double now_ms) { last_reply_at_ms_ = now_ms; }
  // Bytes that belong to no frame.
  void stray_bytes(std::size_t count, std::uint8_t first);
  void violation(const std::string& what);
  // Noise bytes sent after a reply's start; the device has disappeared.
  void noise_sent(long count) { noise_bytes_ += count; }
  // The tail of a split reply went out after the downloader had moved on.
  void late_tail_sent(long count) { late_tail_bytes_ += count; }
  void vanished(const std::string& where) { vanished_at_ = where; }

  int violations() const { return violation_count_; }
  int runs_ended() const { return runs_ended_; }
  int files_received() const { return static_cast<int>(files_.size()); }
  int faults_injected() const { return faults_injected_; }
  const RequestCounts& counts() const { return counts_; }
  // Some reply went out: a downloader has seen this controller.
  bool answered() const { return answered_; }
  // The line was opened and no request has come since.
  bool fresh_opening() const { return fresh_opening_; }
  // The run request was the last request taken.
  bool run_requested() const { return state_ == State::ENDED; }
  // The data of the file being received, or of the last one received.
  const std::vector<std::uint8_t>& image() const { return data_; }
  std::string report() const;
  // The report's lines between its title and its total, each after indent.
  void report_body(std::ostream& r, const std::string& indent) const;
  // "AD=1 AA=2 ..." in the protocol's order.
  static std::string counts_text(const RequestCounts& counts);

 private:
  enum class State {
    IDLE, IDENTIFIED, MODE_SET, MODE_CONFIRMED, SPEED_SET, SPEED_CLOSED, SPEED_REOPENED,
    RECEIVING, RECEIVED, FINISHED, FINISH_CLOSED, BETWEEN, ENDED
  };
  enum class Outcome { ACCEPT, FAIL, UNSURE, OTHER, STOPS };

  static const char* state_name(State s);
  bool check_frame(const std::vector<std::uint8_t>& frame, std::string* key, std::string* fields);
  std::uint32_t expected_speed() const;
  bool allowed(const std::string& key) const;
  void end_run(const char* how);
  std::string early_end() const;
  void step_back_if_repeated(const std::string& key, const std::string& command,
                             const std::string& fields);
  void advance(const std::string& key, const std::string& fields, Outcome outcome);
  void start_file(const std::string& fields);
  void take_block(const std::string& fields);
  void end_file(const std::string& fields);
  ReplyPlan build_reply(const std::string& key, const std::string& command, const Fault* fault,
                        const LineState& line, Outcome* outcome);
  Outcome judge_as_downloader(const std::string& key, const std::vector<std::uint8_t>& reply);
  std::string save_image();
  void note(const std::string& line) const;

  SimOptions options_;
  State state_ = State::IDLE;
  State state_before_last_ = State::IDLE;
  std::string last_key_;
  std::string last_block_;  // the block number of the last request, for "FD"
  Outcome last_outcome_ = Outcome::ACCEPT;
  int failures_ = 0;
  int failures_before_last_ = 0;
  bool must_end_ = false;
  std::string must_end_reason_;
  bool run_active_ = false;
  bool has_external_flash_ = true;
  bool answered_ = false;
  bool fresh_opening_ = false;

  std::string requested_mode_;
  std::uint32_t selected_speed_ = BASE_SPEED;
  double closed_at_ms_ = 0;
  double last_reply_at_ms_ = 0;

  // The file being received.
  std::uint32_t start_address_ = 0;
  std::uint32_t size_ = 0;
  std::uint32_t next_block_ = 1;
  std::uint32_t blocks_received_ = 0;
  std::uint32_t check_value_ = 0;
  std::vector<std::uint8_t> data_;

  // Report.
  std::map<std::string, int> counts_;
  std::map<std::uint32_t, int> speeds_;
  std::vector<std::string> files_;
  std::vector<std::string> runs_;
  int faults_injected_ = 0;
  long noise_bytes_ = 0;
  long late_tail_bytes_ = 0;
  std::string vanished_at_;
  int openings_ = 0;
  int runs_ended_ = 0;
  int images_saved_ = 0;
  int violation_count_ = 0;
  std::vector<std::string> violation_list_;
};

}  // namespace zp3ksim
