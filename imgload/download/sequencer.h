// The download sequencer: one job from "AD" to the final text, as a polled
// state machine of phases with one step counter each and a retry budget.
#pragma once

#include <cstdint>

#include "imgload/download/download_job.h"
#include "imgload/link/clock.h"

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

struct Sequencer {
  int phase;
  int control_step;
  int speed_step;
  int announce_step;
  int transfer_step;
  int finish_step;
  int retries_left;
  int file_index;
  char paths[MAX_ENTRIES][RUN_PATH_SIZE];
  std::uint32_t start_addresses[MAX_ENTRIES];
  std::uint32_t file_sizes[MAX_ENTRIES];
  char port_name[256];
  std::uint32_t selected_speed;  // bit/s
  int speed_code;                // speed_index + 6
};
extern Sequencer sequencer;

// The clock that lowers the reply countdown; set by the front end.
extern Clock* download_clock;

// Observer of a run's traffic on the line, for a front end's trace (the
// Linux command line's --trace) and for tests; null when nobody listens.
// Called on the thread that runs the download, in the order things happen.
class LinkTrace {
 public:
  virtual ~LinkTrace() = default;
  virtual void port_opened(const char* name, std::uint32_t baud_rate, bool opened) = 0;
  virtual void port_closed() = 0;
  virtual void frame_sent(const std::uint8_t* frame, int length) = 0;
  // A reply the reader finished: the bytes it stored and its status. After
  // REPLY_TIMEOUT, the bytes are whatever arrived before the silence.
  virtual void reply_read(const std::uint8_t* reply, int length, int status) = 0;
};
extern LinkTrace* link_trace;

// How many "AB" answers reporting another mode one file may get before the
// run gives up with the timeout text: about a minute of prompt answers at
// 9600 bit/s (each exchange is some 23 ms on the wire), longer with a slower
// controller, so a controller that takes its time to switch is waited for.
constexpr int MODE_QUERY_LIMIT = 2500;

// Runs download_job to its end; the outcome is the last status text shown.
void run_download();

}  // namespace imgload
