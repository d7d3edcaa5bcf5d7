// The settings of one download: filled by the main and settings dialogs (or
// the command line) while no run goes on; a download takes its own copy.
#pragma once

#include <cstdint>

namespace imgload {

constexpr int MAX_ENTRIES = 3;
constexpr int JOB_PATH_SIZE = 520;    // bytes; a usable path is at most 255 bytes
constexpr int RUN_PATH_SIZE = 256;    // bytes: a path the sequencer runs with is shorter
constexpr int JOB_PORT_NAME_SIZE = 256;  // bytes, NUL included
constexpr std::uint32_t SPEEDS[5] = {9600, 19200, 38400, 57600, 115200};  // bit/s

struct DownloadJob {
  int entry_count = 1;                           // 1..3
  char paths[MAX_ENTRIES][JOB_PATH_SIZE] = {};   // completed paths
  std::uint32_t start_addresses[MAX_ENTRIES] = {};
  int run_after_download = 1;                    // 0 or 1
  int port_number = 1;                           // 1..4 (COM1..COM4)
  int speed_index = 4;                           // 0..4
  // POSIX only: the device to open instead of COMn (empty: use COMn).
  char port_device[JOB_PORT_NAME_SIZE] = {};
};

}  // namespace imgload
