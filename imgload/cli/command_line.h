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
  bool dry_run = false;  // every check, each port opened and closed, nothing sent
  bool allow_bad_checksum = false;  // send an image whose header does not verify
  // The production loop: board after board on each port, up to repeat_count
  // boards (0: no end), each board's unit id asked for first.
  bool repeat = false;
  int repeat_count = 0;
  bool ask_unit_id = false;
  std::string trace;
  std::string log;
  std::string job;  // the job file read (--job), empty without one
  int count = 0;
  std::string files[MAX_ENTRIES];
  std::string addresses[MAX_ENTRIES];
  bool has_address[MAX_ENTRIES] = {};  // false: the image header's base address
};

enum class Action { RUN, HELP, VERSION, LIST_PORTS, REFUSED };

struct CommandLine {
  Action action = Action::RUN;
  Arguments arguments;
  std::string problem;  // REFUSED: what is wrong, with the word concerned
};

// Reads the job file at path into *a (job_file.h); false with *problem,
// "FILE:LINE:COLUMN: what is wrong", when it cannot be used.
using JobLoader = bool (*)(const std::string& path, Arguments* a, std::string* problem);
bool load_job_file(const std::string& path, Arguments* a, std::string* problem);

// The words, over the job file's settings when --job names one (read with
// load_job): an option or file word given replaces the job's.
CommandLine read_command_line(int argc, char** argv, JobLoader load_job = load_job_file);

// A port word (as --port takes it) added to a's devices, or why it cannot be.
std::string add_port_word(const std::string& word, Arguments* a);
// A speed in bit/s as decimal text set as a's speed, or why it cannot be.
std::string set_speed_text(const std::string& text, Arguments* a);

// The --help text of this platform's program.
std::string usage_text();

}  // namespace imgload
