// Reading the downloader's command line with getopt_long: in order, file
// words among the options, each refusal said with the word concerned.
#include "imgload/cli/command_line.h"

#include <getopt.h>

#include "imgload/cli/platform_texts.h"
#include "imgload/cli/port_list.h"
#include "imgload/download/messages.h"

namespace imgload {

const char DEFAULT_ADDRESS[] = "0008000";

namespace {

// The synopsis after "usage: NAME", each line after the first indented to
// follow it.
const char* const SYNOPSIS[] = {
    "[-p DEVICE]... [-b 9600|19200|38400|57600|115200] [--no-run]",
    "[-q | -v] [--json] [--trace FILE] [--log FILE]",
    "FILE[@ADDRESS] [FILE[@ADDRESS] [FILE[@ADDRESS]]]",
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
    "  --log FILE      append one JSON line per port to FILE when the port ends:\n"
    "                  times, host, port, exit status, text, each file's path,\n"
    "                  size, SHA-256, version, comment and address, the\n"
    "                  controller's model, the tool; a job refused before the\n"
    "                  ports open logs one line per port too. Lines are written\n"
    "                  whole, so several runs may share one FILE. FILE must be\n"
    "                  a regular file (or /dev/null), as for --trace\n"
    "  --list-ports    list candidate serial devices and exit\n"
    "  --version       print the program's name and version and exit\n"
    "  ADDRESS         the flash start address as the address field takes it:\n"
    "                  seven hexadecimal digits, 0008000 to 001F800 in steps of\n"
    "                  0000800 or 0100000 to 01F0000 in steps of 0010000;\n"
    "                  0000000_A for address 0 (default 0008000). A path that\n"
    "                  contains '@' needs an explicit address. A FILE's path\n"
    "                  must hold a '.' (an extension, as in name.bin).\n"
    "\n"
    "Ctrl-C (on Linux also SIGTERM or SIGHUP) once asks every port to stop after\n"
    "its current file (status 3 when files are left unsent); a second ends at once,\n"
    "each port's line settings put back first (the system closes the ports).\n"
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
    "   1  the run ended without a known text\n"
    "      with several ports: 0 when every port succeeded, otherwise the status\n"
    "      of the first port (in the order given) that did not\n"
    "  64  bad command line (or the log or trace file cannot be used)\n";

// The reading of one command line: what is kept so far, and its result.
class Reader {
 public:
  explicit Reader(CommandLine* out) : out_(out), a_(out->arguments) {}

  // One option or file word; false once the command line is settled
  // (refused, or an action other than a run asked for).
  bool take(int c, const std::string& value, const char* word);
  // After the last word: the checks of the whole.
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
  bool add_file(const std::string& word);
  bool add_port(const std::string& value);
  bool set_speed(const std::string& value);

  CommandLine* out_;
  Arguments& a_;
};

// A FILE or FILE@ADDRESS word.
bool Reader::add_file(const std::string& word) {
  if (a_.count == MAX_ENTRIES) return refuse("at most three files");
  const std::size_t at = word.rfind('@');
  a_.files[a_.count] = at == std::string::npos ? word : word.substr(0, at);
  a_.addresses[a_.count] = at == std::string::npos ? DEFAULT_ADDRESS : word.substr(at + 1);
  ++a_.count;
  return true;
}

// A --port word, as the platform names its ports (on Linux COM1..COM4 name
// /dev/ttyS0..3).
bool Reader::add_port(const std::string& value) {
  if (a_.devices.size() == MAX_PORTS) return refuse("at most 16 ports");
  std::string device;
  if (!port_device(value, &device)) return refuse("not a serial port name: " + value);
  if (device.size() >= static_cast<std::size_t>(JOB_PORT_NAME_SIZE)) {
    return refuse("device path too long");
  }
  for (const std::string& d : a_.devices) {
    if (d == device) return refuse("a port given twice: " + value);
  }
  a_.devices.push_back(device);
  return true;
}

bool Reader::set_speed(const std::string& value) {
  std::string speeds;
  for (int s = 0; s < SPEED_COUNT; ++s) {
    if (value == SPEED_TEXTS[s]) {
      a_.speed_index = s;
      return true;
    }
    speeds += std::string(s == 0 ? "" : s + 1 == SPEED_COUNT ? " or " : ", ") + SPEED_TEXTS[s];
  }
  return refuse("unsupported speed " + value + ": the speeds are " + speeds + " bit/s");
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
    case 't': a_.trace = value; return true;
    case 'L': a_.log = value; return true;
    case 'p': return add_port(value);
    case 'b': return set_speed(value);
    case ':': return refuse(std::string("missing value for ") + word);
    case '?': return refuse(std::string("unknown option ") + word);
    default: return add_file(value);  // 1: a file word
  }
}

void Reader::finish() {
  if (a_.count == 0) {
    refuse("no image file given");
    return;
  }
  if (a_.quiet && a_.verbose) {
    refuse("--quiet and --verbose together");
    return;
  }
  if (a_.devices.empty()) a_.devices.push_back(DEFAULT_PORT_DEVICE);
}

}  // namespace

CommandLine read_command_line(int argc, char** argv) {
  CommandLine out;
  Reader reader(&out);
  optind = 0;
  opterr = 0;
  // '-': file words come back in order as 1; ':': a missing value as ':'.
  const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},       {"list-ports", no_argument, nullptr, 'l'},
      {"no-run", no_argument, nullptr, 'n'},     {"json", no_argument, nullptr, 'j'},
      {"quiet", no_argument, nullptr, 'q'},      {"verbose", no_argument, nullptr, 'v'},
      {"port", required_argument, nullptr, 'p'}, {"speed", required_argument, nullptr, 'b'},
      {"trace", required_argument, nullptr, 't'}, {"log", required_argument, nullptr, 'L'},
      {"version", no_argument, nullptr, 'V'},    {nullptr, 0, nullptr, 0},
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
