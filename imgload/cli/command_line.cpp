// Reading the downloader's command line with getopt_long: in order, file
// words among the options, each refusal said with the word concerned.
#include "imgload/cli/command_line.h"

#include <getopt.h>

#include <charconv>

#include "imgload/cli/platform_texts.h"
#include "imgload/cli/port_list.h"
#include "imgload/download/messages.h"

namespace imgload {

namespace {

// The synopsis after "usage: NAME", each line after the first indented to
// follow it.
constexpr char SYNOPSIS[][72] = {
    "[-p DEVICE]... [-b 9600|19200|38400|57600|115200] [--no-run]",
    "[-q | -v] [--json] [--trace FILE] [--log FILE] [--job FILE]",
    "[--dry-run] [--allow-bad-checksum] [--repeat [--count N]]",
    "[--ask-unit-id] FILE[@ADDRESS] [FILE[@ADDRESS] [FILE[@ADDRESS]]]",
};

const char USAGE_BODY[] =
    "\n"
    "Sends one to three image files, one after another, to a ZP3K controller over\n"
    "a serial line, as the Windows downloader does.\n"
    "\n"
    "  -p, --port DEVICE  the serial device (default COM1): on Linux a device path,\n"
    "                  COM1..COM4 naming /dev/ttyS0..3; on Windows COM1..COM256\n"
    "                  or \\\\.\\COMn. Given up to 16 times, the same files go\n"
    "                  to every port at once, one row per port, and a summary\n"
    "                  ends the run\n"
    "  -b, --speed N   line speed after the speed change: 9600, 19200, 38400,\n"
    "                  57600 or 115200 bit/s (default 115200)\n"
    "  --no-run        do not tell the controller to start running at the end\n"
    "                  (the default is to start it, as the Windows dialog does)\n"
    "  -q, --quiet     only each port's final line and errors\n"
    "  -v, --verbose   also every request sent and reply read, as --trace writes\n"
    "                  them, on standard error\n"
    "  --json          one JSON event per line on standard output, for scripts\n"
    "  --trace FILE    write every frame sent and received to FILE, with times\n"
    "  --log FILE      append one JSON line per port to FILE when the port ends\n"
    "                  (with --repeat, per board, with its unit and unit_id):\n"
    "                  times, host, port, exit status, text, each file's path,\n"
    "                  size, SHA-256, version, comment and address, the\n"
    "                  controller's model, the tool; a job refused before the\n"
    "                  ports open logs one line per port too. Lines are written\n"
    "                  whole, so several runs may share one FILE. FILE must be\n"
    "                  a regular file (or /dev/null), as for --trace\n"
    "  --job FILE      read the job from a TOML file: ports, speed, run, log,\n"
    "                  trace, repeat, count, ask_unit_id, allow_bad_checksum and\n"
    "                  one [[files]] table (path, address) per image; its paths\n"
    "                  are relative to its folder. Options and file words given\n"
    "                  replace the job's (a --port its ports, a file its files)\n"
    "  --dry-run       every check of a run (files, sizes, checksums, addresses,\n"
    "                  overlaps, the log) and each port opened at 9600 bit/s and\n"
    "                  closed again; nothing is written to any port. Shows what\n"
    "                  would be sent where; status 0 or that of the refusal\n"
    "  --allow-bad-checksum  send an image whose header does not verify\n"
    "                  (a hand-patched image), with a warning (otherwise 16)\n"
    "  --repeat        flash board after board on each port at once: wait for a\n"
    "                  board (the model request, quietly, every half second),\n"
    "                  flash it, say PASS or FAIL with its unit number, wait\n"
    "                  for it to leave (no answer, or the port gone), again.\n"
    "                  A fixed cable or a board's own USB adapter both work.\n"
    "                  Ends with a summary per port (passed, failed, boards\n"
    "                  per hour); the exit status is that of the first board\n"
    "                  that failed, 0 when every board passed\n"
    "  --count N       with --repeat, end each port's loop after N boards\n"
    "  --ask-unit-id   with --repeat, ask for each board's unit id (typed, or\n"
    "                  a barcode scanner's line) before it is flashed, one\n"
    "                  port at a time; it goes to the board's line and log.\n"
    "                  The end of the input ends the loop as Ctrl-C does\n"
    "  --list-ports    list candidate serial devices and exit\n"
    "  --version       print the program's name and version and exit\n"
    "  ADDRESS         the flash start address as the address field takes it:\n"
    "                  seven hexadecimal digits, 0008000 to 001F800 in steps of\n"
    "                  0000800 or 0100000 to 01F0000 in steps of 0010000;\n"
    "                  0000000_A for address 0. Without @ADDRESS a file goes to\n"
    "                  its image header's base address (a file without a header\n"
    "                  needs @ADDRESS). A path that contains '@' needs an\n"
    "                  explicit address. A FILE's path must hold a '.' (an\n"
    "                  extension, as in name.bin).\n"
    "\n"
    "Ctrl-C (on Linux also SIGTERM or SIGHUP) once asks every port to stop after\n"
    "its current file (status 3 when files are left unsent); with --repeat a port\n"
    "that waits for a board ends at once. A second ends at once, each port's line\n"
    "settings put back first (the system closes the ports).\n"
    "\n";

const char EXIT_HELP[] =
    "exit status:\n"
    "   0  ダウンロード正常終了 (download completed normally)\n"
    "   3  ダウンロード正常終了 after a stop request that left files unsent\n"
    "      (stopped after file N of M)\n"
    "   5  通信エラー (タイムアウトエラー) (timeout)\n"
    "   7  通信エラー (ファイルオープンエラー) (file open error during the run)\n"
    "   8  通信エラー (ファイルリードエラー) (file read error during the run)\n"
    "   9  通信エラー (受信データエラー) (received data error)\n"
    "  10  通信エラー (COMポートオープンエラー) (the port cannot be opened)\n"
    "  11  ダウンロードファイルパスが不正です。 (the file path is invalid)\n"
    "  12  ダウンロード開始アドレスが不正な値です。 (the start address is invalid)\n"
    "  13  ファイルオープンエラー (a file cannot be opened)\n"
    "  14  ダウンロードファイルのサイズを2kバイト単位にしてください。 (size not whole\n"
    "      2 KB blocks, or larger than any image)\n"
    "  15  外部FROM未搭載機種のため… (external flash refused by the controller's model)\n"
    "  16  イメージファイルのチェックサムが一致しません。 (the image's checksum does\n"
    "      not verify: convert it again; --allow-bad-checksum sends it anyway)\n"
    "   1  the run ended without a known text\n"
    "      with several ports: 0 when every port succeeded, otherwise the status\n"
    "      of the first port (in the order given) that did not; with --repeat,\n"
    "      that of the first failed board of the first port that had one\n"
    "  64  bad command line (or the job, log or trace file cannot be used)\n";

// Codes of the long options without a letter.
enum LongOnly : int {
  OPT_JOB = 256,
  OPT_DRY_RUN,
  OPT_ALLOW_BAD_CHECKSUM,
  OPT_REPEAT,
  OPT_COUNT,
  OPT_ASK_UNIT_ID,
};

// The reading of one command line: what is kept so far, and its result.
class Reader {
 public:
  Reader(CommandLine* out, JobLoader load_job) : out_(out), a_(out->arguments), load_job_(load_job) {}

  // One option or file word; false once the command line is settled
  // (refused, or an action other than a run asked for).
  bool take(int c, const std::string& value, const char* word);
  // After the last word: the job file under the words, the checks of the whole.
  void finish();

 private:
  bool refuse(const std::string& problem) {
    out_->action = Action::REFUSED;
    out_->problem = problem;
    return false;
  }
  bool ask(Action action) {
    out_->action = action;
    return false;
  }
  bool refused_if(const std::string& problem) { return problem.empty() || refuse(problem); }
  bool add_file(const std::string& word);
  bool set_count(const std::string& value);
  bool set_job(const std::string& value);
  bool under_job();

  CommandLine* out_;
  Arguments& a_;
  JobLoader load_job_;
  bool speed_given_ = false;
  bool trace_given_ = false;
  bool log_given_ = false;
  bool count_given_ = false;
};

// A FILE or FILE@ADDRESS word.
bool Reader::add_file(const std::string& word) {
  if (a_.count == MAX_ENTRIES) return refuse("at most three files");
  const std::size_t at = word.rfind('@');
  a_.files[a_.count] = at == std::string::npos ? word : word.substr(0, at);
  a_.addresses[a_.count] = at == std::string::npos ? std::string() : word.substr(at + 1);
  a_.has_address[a_.count] = at != std::string::npos;
  ++a_.count;
  return true;
}

// --count N: a whole decimal number of boards, 1 or more.
bool Reader::set_count(const std::string& value) {
  int n = 0;
  const char* end = value.data() + value.size();
  const std::from_chars_result read = std::from_chars(value.data(), end, n);
  if (read.ec != std::errc() || read.ptr != end || n < 1) {
    return refuse("--count takes a number of boards, 1 or more: " + value);
  }
  a_.repeat_count = n;
  count_given_ = true;
  return true;
}

bool Reader::set_job(const std::string& value) {
  if (!a_.job.empty()) return refuse("a job file given twice");
  if (value.empty()) return refuse("--job needs a file");
  a_.job = value;
  return true;
}

bool Reader::take(int c, const std::string& value, const char* word) {
  switch (c) {
    case 'h': return ask(Action::HELP);
    case 'l': return ask(Action::LIST_PORTS);
    case 'V': return ask(Action::VERSION);
    case 'n': a_.run_after = false; return true;
    case 'j': a_.json = true; return true;
    case 'q': a_.quiet = true; return true;
    case 'v': a_.verbose = true; return true;
    case 't': a_.trace = value; trace_given_ = true; return true;
    case 'L': a_.log = value; log_given_ = true; return true;
    case 'p': return refused_if(add_port_word(value, &a_));
    case 'b': speed_given_ = true; return refused_if(set_speed_text(value, &a_));
    case OPT_JOB: return set_job(value);
    case OPT_DRY_RUN: a_.dry_run = true; return true;
    case OPT_ALLOW_BAD_CHECKSUM: a_.allow_bad_checksum = true; return true;
    case OPT_REPEAT: a_.repeat = true; return true;
    case OPT_COUNT: return set_count(value);
    case OPT_ASK_UNIT_ID: a_.ask_unit_id = true; return true;
    case ':': return refuse(std::string("missing value for ") + word);
    case '?': return refuse(std::string("unknown option ") + word);
    default: return add_file(value);  // 1: a file word
  }
}

// The job file's settings with the words' over them: a --port replaces the
// job's ports, a file word its files; a flag given turns the job's on (or,
// --no-run, off).
bool Reader::under_job() {
  Arguments job;
  std::string problem;
  if (!load_job_(a_.job, &job, &problem)) return refuse(problem);
  const Arguments& words = a_;
  if (!words.devices.empty()) job.devices = words.devices;
  if (speed_given_) job.speed_index = words.speed_index;
  if (trace_given_) job.trace = words.trace;
  if (log_given_) job.log = words.log;
  if (words.repeat_count != 0) job.repeat_count = words.repeat_count;
  if (words.count != 0) {
    job.count = words.count;
    for (int i = 0; i < MAX_ENTRIES; ++i) {
      job.files[i] = words.files[i];
      job.addresses[i] = words.addresses[i];
      job.has_address[i] = words.has_address[i];
    }
  }
  job.run_after = job.run_after && words.run_after;
  job.json = words.json;
  job.quiet = words.quiet;
  job.verbose = words.verbose;
  job.dry_run = words.dry_run;
  job.allow_bad_checksum = job.allow_bad_checksum || words.allow_bad_checksum;
  job.repeat = job.repeat || words.repeat;
  job.ask_unit_id = job.ask_unit_id || words.ask_unit_id;
  job.job = words.job;
  a_ = job;
  return true;
}

void Reader::finish() {
  if (!a_.job.empty() && !under_job()) return;
  if (a_.count == 0) {
    refuse(a_.job.empty() ? "no image file given" : "no image file given (the job has no [[files]])");
    return;
  }
  if (a_.quiet && a_.verbose) {
    refuse("--quiet and --verbose together");
    return;
  }
  // A job's count without its repeat is a single run; asked for on the
  // command line, a count or the unit ids would be silently lost.
  if (!a_.repeat && (count_given_ || a_.ask_unit_id)) {
    refuse(std::string(count_given_ ? "--count" : "--ask-unit-id (ask_unit_id)") +
           " needs --repeat (repeat = true)");
    return;
  }
  if (a_.devices.empty()) a_.devices.push_back(DEFAULT_PORT_DEVICE);
}

}  // namespace

std::string add_port_word(const std::string& word, Arguments* a) {
  if (a->devices.size() == MAX_PORTS) return "at most 16 ports";
  std::string device;
  if (!port_device(word, &device)) return "not a serial port name: " + word;
  if (device.size() >= static_cast<std::size_t>(JOB_PORT_NAME_SIZE)) return "device path too long";
  for (const std::string& d : a->devices) {
    if (d == device) return "a port given twice: " + word;
  }
  a->devices.push_back(device);
  return "";
}

std::string set_speed_text(const std::string& text, Arguments* a) {
  std::string speeds;
  for (int s = 0; s < SPEED_COUNT; ++s) {
    if (text == SPEED_TEXTS[s]) {
      a->speed_index = s;
      return "";
    }
    speeds += std::string(s == 0 ? "" : s + 1 == SPEED_COUNT ? " or " : ", ") + SPEED_TEXTS[s];
  }
  return "unsupported speed " + text + ": the speeds are " + speeds + " bit/s";
}

CommandLine read_command_line(int argc, char** argv, JobLoader load_job) {
  CommandLine out;
  Reader reader(&out, load_job);
  optind = 0;
  opterr = 0;
  // '-': file words come back in order as 1; ':': a missing value as ':'.
  const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},       {"list-ports", no_argument, nullptr, 'l'},
      {"no-run", no_argument, nullptr, 'n'},     {"json", no_argument, nullptr, 'j'},
      {"quiet", no_argument, nullptr, 'q'},      {"verbose", no_argument, nullptr, 'v'},
      {"port", required_argument, nullptr, 'p'}, {"speed", required_argument, nullptr, 'b'},
      {"trace", required_argument, nullptr, 't'}, {"log", required_argument, nullptr, 'L'},
      {"version", no_argument, nullptr, 'V'},    {"job", required_argument, nullptr, OPT_JOB},
      {"dry-run", no_argument, nullptr, OPT_DRY_RUN},
      {"allow-bad-checksum", no_argument, nullptr, OPT_ALLOW_BAD_CHECKSUM},
      {"repeat", no_argument, nullptr, OPT_REPEAT},
      {"count", required_argument, nullptr, OPT_COUNT},
      {"ask-unit-id", no_argument, nullptr, OPT_ASK_UNIT_ID},
      {nullptr, 0, nullptr, 0},
  };
  int c;
  while ((c = getopt_long(argc, argv, "-:hqvp:b:", long_options, nullptr)) != -1) {
    // The word concerned: a short option by its letter, a long one as given.
    const std::string letter = std::string("-") + static_cast<char>(optopt);
    const char* word = c == '?' && optopt != 0 ? letter.c_str() : argv[optind - 1];
    if (!reader.take(c, optarg != nullptr ? optarg : "", word)) return out;
  }
  for (; optind < argc; ++optind) {  // the words after "--"
    if (!reader.take(1, argv[optind], argv[optind])) return out;
  }
  reader.finish();
  return out;
}

std::string usage_text() {
  const std::string name = PROGRAM_NAME;
  std::string text = "usage: " + name;
  for (const char* line : SYNOPSIS) {
    if (line != SYNOPSIS[0]) text += "\n" + std::string(name.size() + 7, ' ');
    text += std::string(" ") + line;
  }
  return text + "\n       " + name + " --list-ports | --version | --help\n" + USAGE_BODY +
         ENVIRONMENT_HELP + EXIT_HELP + SIGNAL_EXIT_HELP;
}

}  // namespace imgload
