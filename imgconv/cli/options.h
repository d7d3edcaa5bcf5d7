// The POSIX front end's argument reader: the Windows words -S -D -V -C (value
// attached or as the next argument) and the long options of the command line.
#pragma once

#include <string>

#include "imgconv/command_line.h"

namespace imgconv {

enum class Mode { CONVERT, HEADER_ONLY, INFO, HELP, VERSION };

struct Options {
  Mode mode = Mode::CONVERT;
  std::string value[4];           // indexed by OptionSlot; empty when not given
  bool given[4] = {false, false, false, false};
  bool quiet = false;             // -q: nothing printed on success
  std::string info_path;          // Mode::INFO
  std::string problem;            // why the arguments cannot be used (ASCII)
};

// Reads argv[1..argc-1]. False (with options->problem set) for arguments the
// program cannot use: an unknown or repeated option, a missing value, a word
// that is no option, or --info mixed with other words.
bool read_options(int argc, const char* const* argv, Options* options);

}  // namespace imgconv
