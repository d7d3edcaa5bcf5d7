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

// Runs download_job to its end; the outcome is the last status text shown.
void run_download();

}  // namespace imgload
