// The POSIX front end's argument reader, on getopt_long.
#include "imgconv/cli/options.h"

#include <getopt.h>

#include "imgconv/command_line.h"

namespace imgconv {
namespace {

bool refuse(Options* options, const std::string& why) {
  options->problem = why;
  return false;
}

// The mode the options given ask for; false when they do not go together.
bool choose_mode(bool help, bool version, bool info, bool any_word, bool header_only,
                 Options* options) {
  const bool quiet = options->quiet;
  if (help || version) {
    options->mode = help ? Mode::HELP : Mode::VERSION;
    return true;
  }
  if (info) {
    if (any_word || header_only || quiet) return refuse(options, "--info takes no other options");
    options->mode = Mode::INFO;
    return true;
  }
  if (!any_word && !header_only) return refuse(options, "nothing to do");
  options->mode = header_only ? Mode::HEADER_ONLY : Mode::CONVERT;
  return true;
}

}  // namespace

bool read_options(int argc, const char* const* argv, Options* options) {
  // --header-only, --info and --version have no letter; 'H', 'I' and 'R'
  // (release) are only their codes ('V' is the image's version value).
  const option long_options[] = {{"help", no_argument, nullptr, 'h'},
                                 {"quiet", no_argument, nullptr, 'q'},
                                 {"header-only", no_argument, nullptr, 'H'},
                                 {"info", required_argument, nullptr, 'I'},
                                 {"version", no_argument, nullptr, 'R'},
                                 {nullptr, 0, nullptr, 0}};
  *options = Options{};
  bool header_only = false;
  bool info = false;
  bool help = false;
  bool version = false;
  bool any_word = false;
  // Reset for every call. In order ('-') getopt_long never reorders argv.
  char* const* args = const_cast<char* const*>(argv);
  optind = 0;
  opterr = 0;
  // '-': every other word comes back in order as 1; ':': a missing value as ':'.
  int c;
  while ((c = getopt_long(argc, args, "-:hqS:D:V:C:", long_options, nullptr)) != -1) {
    switch (c) {
      case 'h': help = true; break;
      case 'R': version = true; break;
      case 'q': options->quiet = true; break;
      case 'H':
        if (header_only) return refuse(options, "--header-only given twice");
        header_only = true;
        break;
      case 'I':
        if (info) return refuse(options, "--info given twice");
        info = true;
        options->info_path = optarg;
        break;
      case ':':
        if (optopt == 'I') return refuse(options, "--info needs a file name");
        return refuse(options, std::string("option -") + char(optopt) + " needs a value");
      case '?':  // a short option by its letter, a long one by its word
        if (optopt != 0) return refuse(options, std::string("unknown option -") + char(optopt));
        return refuse(options, std::string("unknown option ") + args[optind - 1]);
      case 1:
        return refuse(options, std::string("unexpected argument ") + optarg);
      default: {
        const int slot = option_slot(static_cast<char>(c));
        if (options->given[slot]) return refuse(options, std::string("option -") + char(c) + " given twice");
        options->given[slot] = true;
        options->value[slot] = optarg;
        any_word = true;
      }
    }
  }
  if (optind < argc) return refuse(options, std::string("unexpected argument ") + args[optind]);
  return choose_mode(help, version, info, any_word, header_only, options);
}

}  // namespace imgconv
