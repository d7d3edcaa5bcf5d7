// The download sequencer: one job from "AD" to the final text, as a polled
// state machine of phases with one step counter each and a retry budget. One
// Download object holds everything of one run: its link (on the port it is
// given, with the frame and reply buffers and readers), its reply countdown,
// the phase, steps and retries, the file being sent and its copy of the job.
#pragma once

#include <atomic>
#include <cstdint>

#include "imgload/download/download_job.h"
#include "imgload/download/download_result.h"
#include "imgload/download/image_file.h"
#include "imgload/download/progress_view.h"
#include "imgload/link/clock.h"
#include "imgload/link/commands.h"
#include "imgload/link/link.h"

namespace imgload {

enum Phase : int {
  PHASE_IDENTIFY = 0,
  PHASE_MODE = 1,
  PHASE_SPEED = 2,
  PHASE_ANNOUNCE = 3,
  PHASE_BLOCKS = 4,
  PHASE_FINISH = 5,
  PHASE_CLOSE = 6,
  PHASE_SETTLE = 7,
  PHASE_NEXT = 8,
  PHASE_END = 9,
};

constexpr int RETRY_BUDGET = 3;

// How many "AB" answers reporting another mode one file may get before the
// run gives up with the timeout text: about a minute of prompt answers at
// 9600 bit/s (each exchange is some 23 ms on the wire), longer with a slower
// controller, so a controller that takes its time to switch is waited for.
constexpr int MODE_QUERY_LIMIT = 2500;

// The phase and step counters; all 0 between runs.
struct SequencerSteps {
  int phase = PHASE_IDENTIFY;
  int control_step = 0;  // phases 0, 1 and 9
  int speed_step = 0;
  int announce_step = 0;
  int transfer_step = 0;
  int finish_step = 0;
};

class Download {
 public:
  // stop_requested: set by the front end's stop button or Ctrl-C, read once
  // per file. port: the serial port the run opens and closes (not open).
  // images: the bytes of the job's files as the front end checked them,
  // shared by the downloads of several ports; without them the run reads
  // each file once before the port opens. Either way, what is sent is that
  // snapshot, whatever happens to the files.
  Download(const DownloadJob& job, const std::atomic<int>& stop_requested, SerialPort& port,
           ProgressView& view = no_progress_view(), LinkTrace& trace = no_link_trace(),
           SharedImages images = nullptr);
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;

  // The countdown this download's clock lowers once a second.
  ReplyCountdown& countdown() { return countdown_; }

  // Runs the job to its end, waiting on clock; returns how it ended (also
  // given to the view, last).
  DownloadResult run(Clock& clock);

  // The "AD" reply's model information byte once it is read in this run;
  // -1 before. Safe to read from any thread while the run goes on.
  int learned_model() const { return learned_model_.load(); }

  // After a run: every counter is back at 0 and the port is closed.
  const SequencerSteps& steps() const { return steps_; }
  bool port_open() const { return link_.is_open(); }

 private:
  // What phase 4 keeps for the file being sent.
  struct Transfer {
    const std::uint8_t* next = nullptr;  // the next block inside the file's snapshot
    std::uint32_t block_number = 0;
    std::uint32_t check_value = 0;
    std::uint32_t blocks_left = 0;  // data requests still due for the announced size
    std::uint32_t blocks = 0;       // data requests for the announced size
  };

  bool take_snapshots();
  bool choose_port();
  bool open_port(std::uint32_t baud_rate);
  void step();
  void step_identify();
  void step_mode();
  void step_speed();
  void step_announce();
  void step_blocks();
  void step_finish();
  void step_next();
  void step_end();

  // The end of a run: the result, given to the view.
  void end(DownloadEnd how, int file, ReplyStatus reply = REPLY_OK, zp3k::Status port_status = {});
  void end_with_reply(ReplyStatus status);
  void name_failed_request(DownloadResult* ended) const;

  bool pause_over();
  void retry_or_fail(ReplyStatus status, int* step);
  bool retried_reply_accepted(int* step);
  bool single_reply_accepted();
  void enter_phase(Phase phase);
  const char* current_mode() const;

  DownloadJob job_;
  const std::atomic<int>& stop_requested_;
  ProgressView& view_;
  Clock* clock_ = nullptr;
  ReplyCountdown countdown_;
  Link link_;

  SequencerSteps steps_;
  bool running_ = false;
  DownloadResult result_;
  std::atomic<int> learned_model_{-1};  // result_.model, for other threads
  int retries_left_ = 0;
  int file_index_ = 0;
  bool stopped_ = false;  // the stop request ended the run after file_index_ + 1
  int other_mode_answers_ = 0;  // "AB" answers with another mode for this file
  const SharedImages given_images_;  // from the front end, or null
  SharedImages images_;              // this run's bytes, fixed before the port opens
  char port_name_[JOB_PORT_NAME_SIZE] = {};
  std::uint32_t selected_speed_ = 0;  // bit/s
  int speed_code_ = 0;                // speed_index + 6
  Transfer transfer_;
};

}  // namespace imgload
