// The settings of one download: filled by the main and settings dialogs (or
// the command line) while no run goes on; a download takes its own copy.
#pragma once

#include <cstdint>

#include "image/paths.h"
#include "imgload/link/protocol.h"  // SPEEDS

namespace imgload {

constexpr int MAX_ENTRIES = 3;
// Paths count as the file system counts them (UTF-16 units on Windows, bytes
// on POSIX); the buffers hold them in UTF-8, at most 3 bytes to a unit.
constexpr int MAX_PATH_UNITS = 255;                   // a usable path, completed
constexpr int JOB_PATH_SIZE = 3 * zp3k::PATH_LIMIT + 1;  // bytes: the path field's 519 units
constexpr int RUN_PATH_SIZE = 3 * MAX_PATH_UNITS + 1; // bytes: a path the sequencer runs with is shorter
constexpr int JOB_PORT_NAME_SIZE = 256;  // bytes, NUL included

struct DownloadJob {
  int entry_count = 1;                           // 1..3
  char paths[MAX_ENTRIES][JOB_PATH_SIZE] = {};   // completed paths
  std::uint32_t start_addresses[MAX_ENTRIES] = {};
  int run_after_download = 1;                    // 0 or 1
  int port_number = 1;                           // 1..4 (COM1..COM4)
  int speed_index = 4;                           // 0..4
  // The command line's device to open instead of COMn (empty: use COMn).
  char port_device[JOB_PORT_NAME_SIZE] = {};
};

}  // namespace imgload
