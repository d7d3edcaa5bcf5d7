// zp3ksim: a simulated ZP3K controller on a pseudo-terminal. It prints the
// device a downloader opens, answers the download protocol at the pace of
// the line, checks what the downloader does, saves the images it receives
// and reports; it exits with 1 when the downloader broke the protocol.
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "board_fixture.h"
#include "faults.h"
#include "line_watch.h"
#include "pty_server.h"
#include "sim_controller.h"
#include "cli/program.h"

namespace zp3ksim {
namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_VIOLATIONS = 1;
constexpr int EXIT_NO_DEVICE = 2;  // no pseudo-terminal, or --link cannot be made
constexpr int EXIT_NOT_ALL_SERVED = 3;  // --boards: ended before every board was served
using zp3k::EXIT_USAGE;            // a command line it cannot use, as imgconv and imgload
constexpr int MAX_BOARDS = 9999;

volatile sig_atomic_t stop_signal = 0;
void on_signal(int) { stop_signal = 1; }

const char USAGE[] =
    "usage: zp3ksim [options]\n"
    "\n"
    "A simulated ZP3K controller on a pseudo-terminal. The first line printed on\n"
    "standard output is the device to give the downloader (imgload --port DEVICE,\n"
    "or Wine's COM link). It answers the download protocol (\"AD\" with the model\n"
    "information, \"AA\", \"AB\" with the current mode, \"EF\", \"FG\", \"FD\", \"AG\"),\n"
    "paced at 11 bits per character of the line speed the downloader set, and\n"
    "checks every request byte for byte: framing and BCC, fields, order, block\n"
    "numbering, the check value against the data, the line settings and speed\n"
    "(9600 bit/s, then the speed announced with \"EF\" after the reopening), the\n"
    "1000 ms the port stays closed for the speed change and the 3 s after \"AG\".\n"
    "On SIGINT or SIGTERM (or --runs, --max-time, or when the last of --boards has\n"
    "been served) it prints a report.\n"
    "\n"
    "options:\n"
    "  --link PATH        also make PATH a symbolic link to the device\n"
    "  --save-dir DIR     save each received image as DIR/image-N.bin, N = 1, 2, ...\n"
    "                     (--boards: DIR/board-K/image-N.bin, N from 1 on each board)\n"
    "  --model XX         the two characters of the \"AD\" model information,\n"
    "                     sent as given (default 30: external flash fitted)\n"
    "  --fault FAULT      inject a fault; may be repeated. FAULT is\n"
    "                     [BOARD:]KIND@REQUEST[#N|#N-M|#*][,ARG] (no #: every\n"
    "                     occurrence). REQUEST: AD AA AB EF FG FD FDEND AG RUN\n"
    "                     (AA = mode request, FD = data request, FDEND = end\n"
    "                     request, RUN = \"AA\" with \"01\"); occurrences count from\n"
    "                     1 over the simulator's life, or with BOARD: (--boards)\n"
    "                     on that board only, e.g. 2:nak@FD#2. KIND:\n"
    "                       nak       reply with NAK as first byte\n"
    "                       silent    no reply\n"
    "                       badbcc    wrong BCC\n"
    "                       lower     BCC digits in lower case\n"
    "                       split     reply in two halves ARG ms apart (4000);\n"
    "                                 requests that come meanwhile are answered\n"
    "                                 first, the second half follows when the\n"
    "                                 line is quiet (stale bytes, if the\n"
    "                                 downloader gave up on the reply)\n"
    "                       slow      ARG ms between reply bytes (100)\n"
    "                       long      ARG filler bytes of reply data (600)\n"
    "                       other     (AB) report the mode not asked for\n"
    "                       model     (AD) ARG = two characters of model information\n"
    "                       noise     ACK, then bytes without CR at the line's pace\n"
    "                                 until the next request or the close\n"
    "                       vanish    the device disappears: the pseudo-terminal\n"
    "                                 is closed at once and the report printed\n"
    "  --boards N         serve N boards in turn on the one line, as a production\n"
    "                     fixture does: board 1 answers from the start; a board's\n"
    "                     run ends with its run request, with an \"AD\" that is the\n"
    "                     first request after the line was closed and opened\n"
    "                     again (asking for the next board: it gets no answer),\n"
    "                     or when the line stays closed longer than the swap time\n"
    "                     and 3 s; then the line answers nothing (requests are\n"
    "                     taken in, not judged) for the swap time, and the next\n"
    "                     board answers. The simulator ends once board N's run\n"
    "                     has ended. A board may be asked for its model again\n"
    "                     right after its answer (a production loop's check,\n"
    "                     then the run's own \"AD\"); the report gives each\n"
    "                     board's timing\n"
    "  --swap SECONDS     the time between two boards (default 2)\n"
    "  --no-pace          reply at once instead of at the line's pace\n"
    "  --runs N           end after the downloader has ended N runs\n"
    "  --max-time SEC     end after SEC seconds\n"
    "  --report FILE      also write the report to FILE\n"
    "  --quiet            no notes on standard error (violations still)\n"
    "  --help\n"
    "  --version          print the program's name and version\n"
    "\n"
    "exit status: 0 no protocol violation seen (and with --boards, every board\n"
    "               served),\n"
    "             1 violations seen,\n"
    "             2 no pseudo-terminal (or --link cannot be made),\n"
    "             3 with --boards: no violation, but the simulator ended before\n"
    "               every board was served (signal, --max-time, --runs, vanish),\n"
    "             64 bad command line\n";

struct Options {
  std::string link;
  std::string report_file;
  int runs = 0;
  double max_time_s = 0;
  int boards = 0;   // 0: no boards in turn
  double swap_s = 0;  // 0: not given
  SimOptions sim;
};

// The whole text as a number above zero: no sign, space, unit or other
// trailing character ("3x" and "1s" are refused, as are inf and nan).
template <typename Number>
bool positive_number(const char* text, Number* out) {
  const char* end = text + std::strlen(text);
  Number value{};
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end || !(value > 0) || !std::isfinite(double(value))) return false;
  *out = value;
  return true;
}

// A numeric option into *o; false, with the reason printed, when it cannot be used.
bool take_number(int c, const char* text, Options* o) {
  bool ok = false;
  const char* wants = "";
  switch (c) {
    case 'n':
      ok = positive_number(text, &o->runs);
      wants = "--runs takes a whole number from 1";
      break;
    case 't':
      ok = positive_number(text, &o->max_time_s);
      wants = "--max-time takes seconds above 0";
      break;
    case 'b':
      ok = positive_number(text, &o->boards) && o->boards <= MAX_BOARDS;
      wants = "--boards takes a whole number from 1 to 9999";
      break;
    case 'w':
      ok = positive_number(text, &o->swap_s);
      wants = "--swap takes seconds above 0";
      break;
  }
  if (!ok) std::fprintf(stderr, "zp3ksim: %s, not '%s'\n", wants, text);
  return ok;
}

// One option into *o; false, with the reason printed, when it cannot be used.
bool take_option(int c, char** argv, Options* o) {
  const std::string v = optarg != nullptr ? optarg : "";
  switch (c) {
    case 'h':
      std::fputs(USAGE, stdout);
      std::exit(EXIT_OK);
    case 'v':
      std::puts(zp3k::version_line("zp3ksim").c_str());
      std::exit(EXIT_OK);
    case 'l': o->link = v; break;
    case 's': o->sim.save_dir = v; break;
    case 'r': o->report_file = v; break;
    case 'm':
      if (v.size() != 2) {
        std::fprintf(stderr, "zp3ksim: --model takes two characters\n");
        return false;
      }
      o->sim.model = v;
      break;
    case 'f': {
      Fault f;
      std::string error;
      if (!parse_fault(v, &f, &error)) {
        std::fprintf(stderr, "zp3ksim: --fault %s: %s\n", v.c_str(), error.c_str());
        return false;
      }
      o->sim.faults.push_back(f);
      break;
    }
    case 'p': o->sim.paced = false; break;
    case 'q': o->sim.quiet = true; break;
    case 'n':
    case 't':
    case 'b':
    case 'w':
      return take_number(c, optarg, o);
    case ':':
      std::fprintf(stderr, "zp3ksim: %s needs a value\n", argv[optind - 1]);
      return false;
    default: {  // '?' or 1: an unknown option (a letter, or a long word) or a stray word
      const std::string word = c == 1 ? v : optopt != 0 ? std::string("-") + char(optopt) : argv[optind - 1];
      std::fprintf(stderr, "zp3ksim: unknown argument '%s' (see --help)\n", word.c_str());
      return false;
    }
  }
  return true;
}

// --swap and faults bound to a board need the boards they name.
bool check_boards(const Options& o) {
  if (o.swap_s > 0 && o.boards == 0) {
    std::fprintf(stderr, "zp3ksim: --swap needs --boards\n");
    return false;
  }
  for (const Fault& f : o.sim.faults) {
    if (f.board > o.boards) {
      std::fprintf(stderr, "zp3ksim: --fault %s: no board %d (--boards %d)\n", f.given.c_str(),
                   f.board, o.boards);
      return false;
    }
  }
  return true;
}

bool parse_options(int argc, char** argv, Options* o) {
  // Long options only; the letters are their getopt_long codes.
  const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},        {"link", required_argument, nullptr, 'l'},
      {"save-dir", required_argument, nullptr, 's'}, {"report", required_argument, nullptr, 'r'},
      {"model", required_argument, nullptr, 'm'},  {"fault", required_argument, nullptr, 'f'},
      {"no-pace", no_argument, nullptr, 'p'},      {"runs", required_argument, nullptr, 'n'},
      {"max-time", required_argument, nullptr, 't'}, {"quiet", no_argument, nullptr, 'q'},
      {"version", no_argument, nullptr, 'v'},      {"boards", required_argument, nullptr, 'b'},
      {"swap", required_argument, nullptr, 'w'},   {nullptr, 0, nullptr, 0},
  };
  optind = 0;
  opterr = 0;
  // '-': a word that is no option comes back as 1; ':': a missing value as ':'.
  int c;
  while ((c = getopt_long(argc, argv, "-:h", long_options, nullptr)) != -1) {
    if (!take_option(c, argv, o)) return false;
  }
  if (optind < argc) {  // a word after "--"
    std::fprintf(stderr, "zp3ksim: unknown argument '%s' (see --help)\n", argv[optind]);
    return false;
  }
  return check_boards(*o);
}

// The --link symbolic link to the device, replacing an earlier link only.
bool make_link(const Options& options, const Pty& pty) {
  if (options.link.empty()) return true;
  struct stat st {};
  if (lstat(options.link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "zp3ksim: %s exists and is not a symbolic link\n", options.link.c_str());
      return false;
    }
    unlink(options.link.c_str());
  }
  if (symlink(pty.slave.c_str(), options.link.c_str()) != 0) {
    std::perror("zp3ksim: --link");
    return false;
  }
  return true;
}

int run(const Options& options) {
  Pty pty;
  if (!open_pty(&pty)) {
    std::perror("zp3ksim: pseudo-terminal");
    return EXIT_NO_DEVICE;
  }
  LineWatch watch;
  if (!watch.start(pty.slave, pty.master)) {
    std::perror("zp3ksim: watching the pseudo-terminal's openings (inotify)");
    return EXIT_NO_DEVICE;
  }
  if (!make_link(options, pty)) return EXIT_NO_DEVICE;
  std::printf("%s\n", pty.slave.c_str());
  std::fflush(stdout);

  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const double swap_ms = options.swap_s > 0 ? options.swap_s * 1000 : DEFAULT_SWAP_MS;
  BoardFixture fixture(options.sim, options.boards, swap_ms);
  const ServeLimits limits{options.runs, options.max_time_s, options.sim.paced};
  const bool vanished = serve(pty, limits, fixture, watch, &stop_signal);

  // The report, on standard output and in --report's file, and the exit
  // status. A vanished device takes its line with it before anything else is said.
  if (vanished) {
    close(pty.master);
    pty.master = -1;
    if (!options.link.empty()) unlink(options.link.c_str());
  }
  const std::string report = fixture.report();
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  if (!options.report_file.empty()) std::ofstream(options.report_file) << report;
  if (!options.link.empty()) unlink(options.link.c_str());
  if (pty.master >= 0) close(pty.master);
  if (fixture.violations() > 0) return EXIT_VIOLATIONS;
  return options.boards > 0 && !fixture.all_served() ? EXIT_NOT_ALL_SERVED : EXIT_OK;
}

}  // namespace
}  // namespace zp3ksim

int main(int argc, char** argv) {
  zp3ksim::Options options;
  if (!zp3ksim::parse_options(argc, argv, &options)) {
    std::fputs("see zp3ksim --help\n", stderr);
    return zp3ksim::EXIT_USAGE;
  }
  return zp3ksim::run(options);
}
