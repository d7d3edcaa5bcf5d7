// The downloader's command line: the options and file words read into
// Arguments, or what was asked instead (help, version, the port list), or
// why the words cannot be used. Reading prints nothing and opens nothing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "imgload/download/download_job.h"

namespace imgload {

constexpr std::size_t MAX_PORTS = 16;  // controllers driven at once

struct Arguments {
  std::vector<std::string> devices;  // as the platform opens them; the default port when none given
  int speed_index = 4;               // 115200 bit/s
  bool run_after = true;
  bool json = false;
  bool quiet = false;    // each port's final line and errors only
  bool verbose = false;  // the trace's request and reply lines on standard error
  std::string trace;
  std::string log;
  int count = 0;
  std::string files[MAX_ENTRIES];
  std::string addresses[MAX_ENTRIES];
};

enum class Action { RUN, HELP, VERSION, LIST_PORTS, REFUSED };

struct CommandLine {
  Action action = Action::RUN;
  Arguments arguments;
  std::string problem;  // REFUSED: what is wrong, with the word concerned
};

CommandLine read_command_line(int argc, char** argv);

// The address a file word without "@ADDRESS" gets.
extern const char DEFAULT_ADDRESS[];

// The --help text of this platform's program.
std::string usage_text();

}  // namespace imgload
