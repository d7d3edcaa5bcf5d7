// How a download ended: one value from the sequencer to the front ends, which
// turn it into the status text and (on Linux) the exit status by their tables.
#pragma once

#include <cstdint>

#include "imgload/link/frame.h"
#include "platform/status.h"

namespace imgload {

enum class DownloadEnd : int {
  SUCCEEDED,          // every file accepted whole (and the run request sent when asked)
  STOPPED,            // a stop request honoured: files 1..file accepted whole, the rest not sent
  TIMED_OUT,          // a reply did not come in time, or the mode never switched
  REPLY_REJECTED,     // a reply refused or corrupt once too often (reply says how)
  BAD_MODEL,          // the "AD" reply's model information is not two digits
  NO_EXTERNAL_FLASH,  // entry `file` is bound for external flash the model lacks
  PORT_OPEN_FAILED,   // the port (or its reopening at a new speed) failed to open
  FILE_OPEN_FAILED,   // file `file` cannot be opened (or its path is unusable)
  FILE_READ_FAILED,   // file `file` cannot be read whole, or is not whole blocks
};

struct DownloadResult {
  DownloadEnd end = DownloadEnd::SUCCEEDED;
  int file = 0;                  // the file concerned, 1-based; 0 when none
  int files = 0;                 // the files of the job
  ReplyStatus reply = REPLY_OK;  // TIMED_OUT, REPLY_REJECTED: the last reply's status
  zp3k::Status port_status;      // PORT_OPEN_FAILED: why the port did not open
  bool answered = false;         // a byte came back on the line (nothing did: no controller there)
  int model = -1;                // the "AD" reply's model information byte; -1 until read
  // TIMED_OUT, REPLY_REJECTED: the request whose reply failed, by its two
  // letters ("FD"), and for a data request its block of the file's blocks
  // (block 0 with "FD": the end request); empty when nothing was sent.
  char request[3] = {};
  std::uint32_t block = 0;
  std::uint32_t blocks = 0;
  // TIMED_OUT: the port's read failed (hung up, the device gone) instead of
  // the line staying silent.
  bool line_failed = false;

  bool succeeded() const { return end == DownloadEnd::SUCCEEDED; }
};

}  // namespace imgload
