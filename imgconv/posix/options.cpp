// The POSIX front end's argument reader.
#include "imgconv/posix/options.h"

#include <cstring>

#include "imgconv/command_line.h"

namespace imgconv {
namespace {

bool refuse(Options* options, const std::string& why) {
  options->problem = why;
  return false;
}

}  // namespace

bool read_options(int argc, const char* const* argv, Options* options) {
  *options = Options{};
  bool header_only = false;
  bool info = false;
  bool help = false;
  bool any_word = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      help = true;
    } else if (std::strcmp(arg, "--header-only") == 0) {
      if (header_only) return refuse(options, "--header-only given twice");
      header_only = true;
    } else if (std::strcmp(arg, "--info") == 0) {
      if (info) return refuse(options, "--info given twice");
      if (i + 1 >= argc) return refuse(options, "--info needs a file name");
      info = true;
      options->info_path = argv[++i];
    } else if (arg[0] == '-' && arg[1] != '\0' && arg[1] != '-') {
      int slot = option_slot(arg[1]);
      if (slot < 0) return refuse(options, std::string("unknown option ") + arg);
      if (options->given[slot]) return refuse(options, std::string("option -") + arg[1] + " given twice");
      options->given[slot] = true;
      any_word = true;
      if (arg[2] != '\0') {
        options->value[slot] = arg + 2;
      } else {
        if (i + 1 >= argc) return refuse(options, std::string("option -") + arg[1] + " needs a value");
        options->value[slot] = argv[++i];
      }
    } else {
      return refuse(options, std::string("unexpected argument ") + arg);
    }
  }
  if (help) {
    options->mode = Mode::HELP;
    return true;
  }
  if (info) {
    if (any_word || header_only) return refuse(options, "--info takes no other options");
    options->mode = Mode::INFO;
    return true;
  }
  if (!any_word && !header_only) return refuse(options, "nothing to do");
  options->mode = header_only ? Mode::HEADER_ONLY : Mode::CONVERT;
  return true;
}

}  // namespace imgconv
