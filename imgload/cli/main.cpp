// imgload for Linux: checks one to three image files with the same rules and
// messages as the Windows main dialog, shows their headers, and runs the
// same download sequencer over one serial device, or over several at once
// (one download and thread per port), with a progress display, Ctrl-C as the
// stop request and an exit status for each outcome.
#include <getopt.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/image_format.h"
#include "imgload/download/download_job.h"
#include "imgload/download/job_checks.h"
#include "imgload/download/messages.h"
#include "imgload/download/sequencer.h"
#include "imgload/cli/console.h"
#include "imgload/cli/port_list.h"
#include "imgload/cli/output_queue.h"
#include "imgload/cli/production_log.h"
#include "imgload/cli/run_output.h"
#include "imgload/cli/stop_signals.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/cli/ticker_clock.h"
#include "imgload/cli/trace_file.h"
#include "zp3k_version.h"

namespace imgload {
namespace {

// Exit statuses: 0 only after "ダウンロード正常終了"; a failure of the run
// exits with its status row, a refused job row with its message row.
constexpr int EXIT_SUCCESS_RUN = 0;
constexpr int EXIT_UNKNOWN = 1;
constexpr int EXIT_USAGE = 64;  // EX_USAGE, as imgconv and zp3ksim
constexpr int EXIT_STOPPED_EARLY = 3;  // a stop request left files unsent
constexpr int ADDRESS_TEXT_LIMIT = 11; // characters the address field holds
constexpr std::size_t MAX_PORTS = 16;  // controllers driven at once
const char DEFAULT_ADDRESS[] = "0008000";
const char* const DEFAULT_DEVICE = DEFAULT_PORT_DEVICE;  // COM1

const char USAGE[] =
    "usage: imgload [--port DEVICE]... [--speed 9600|19200|38400|57600|115200] [--no-run]\n"
    "               [--json] [--trace FILE] [--log FILE]\n"
    "               FILE[@ADDRESS] [FILE[@ADDRESS] [FILE[@ADDRESS]]]\n"
    "       imgload --list-ports | --version | --help\n"
    "\n"
    "Sends one to three image files, one after another, to a ZP3K controller over\n"
    "a serial line, as the Windows downloader does.\n"
    "\n"
    "  --port DEVICE   the serial device (default COM1): on Linux a device path,\n"
    "                  COM1..COM4 naming /dev/ttyS0..3; on Windows COM1..COM256\n"
    "                  or \\\\.\\COMn. Given up to 16 times, the same files go\n"
    "                  to every port at once, one row per port, and a summary\n"
    "                  ends the run\n"
    "  --speed N       line speed after the speed change (default 115200)\n"
    "  --no-run        do not tell the controller to start running at the end\n"
    "                  (the default is to start it, as the Windows dialog does)\n"
    "  --json          one JSON event per line on standard output, for scripts\n"
    "  --trace FILE    write every frame sent and received to FILE, with times\n"
    "  --log FILE      append one JSON line per port to FILE when the port ends:\n"
    "                  times, host, port, exit status, text, each file's path,\n"
    "                  size, SHA-256, version, comment and address, the\n"
    "                  controller's model, the tool; a job refused before the\n"
    "                  ports open logs one line per port too. Lines are written\n"
    "                  whole, so several imgload runs may share one FILE\n"
    "  --list-ports    list candidate serial devices and exit\n"
    "  --version       print the program's name and version and exit\n"
    "  ADDRESS         the flash start address as the address field takes it:\n"
    "                  seven hexadecimal digits, 0008000 to 001F800 in steps of\n"
    "                  0000800 or 0100000 to 01F0000 in steps of 0010000;\n"
    "                  0000000_A for address 0 (default 0008000). A path that\n"
    "                  contains '@' needs an explicit address.\n"
    "\n"
    "Ctrl-C (on Linux also SIGTERM or SIGHUP) once asks every port to stop after\n"
    "its current file (status 3 when files are left unsent); a second ends at once,\n"
    "each port's line settings put back first (the system closes the ports).\n"
    "\n"
    "environment:\n"
    "  ZP3K_LOCK_DIR   the folder of the ports' lock files (default /var/lock)\n"
    "\n"
    "exit status:\n"
    "   0  ダウンロード正常終了 (download completed normally)\n"
    "   3  ダウンロード正常終了 after a stop request (Ctrl-C, SIGTERM, SIGHUP) that\n"
    "      left files unsent (stopped after file N of M)\n"
    "   5  通信エラー (タイムアウトエラー) (timeout)\n"
    "   7  通信エラー (ファイルオープンエラー) (file open error during the run)\n"
    "   8  通信エラー (ファイルリードエラー) (file read error during the run)\n"
    "   9  通信エラー (受信データエラー) (received data error)\n"
    "  10  通信エラー (COMポートオープンエラー) (the port cannot be opened)\n"
    "  11  ダウンロードファイルパスが不正です。 (the file path is invalid)\n"
    "  12  ダウンロード開始アドレスが不正な値です。 (the start address is invalid)\n"
    "  13  ファイルオープンエラー (a file cannot be opened)\n"
    "  14  ダウンロードファイルのサイズを2kバイト単位にしてください。 (size not whole 2 KB)\n"
    "  15  外部FROM未搭載機種のため… (external flash refused by the controller's model)\n"
    "   1  the run ended without a known text\n"
    "      with several ports: 0 when every port succeeded, otherwise the status\n"
    "      of the first port (in the order given) that did not\n"
    "  64  bad command line (or the log file cannot be opened)\n"
    " 130  ended by a second Ctrl-C\n"
    " 143  ended by a second stop signal that was SIGTERM (129: SIGHUP)\n";

struct Arguments {
  std::vector<std::string> devices;  // none given: DEFAULT_DEVICE
  int speed_index = 4;
  bool run_after = true;
  bool json = false;
  bool quiet = false;    // -q: each port's last line, errors and stop notes only
  bool verbose = false;  // -v: the trace's lines on standard error
  std::string trace;
  std::string log;
  int count = 0;
  std::string files[MAX_ENTRIES];
  std::string addresses[MAX_ENTRIES];
};

int usage_error(const char* what, const char* arg) {
  std::fprintf(stderr, "imgload: %s%s%s\n%s", what, arg ? ": " : "", arg ? arg : "",
               "see imgload --help\n");
  return EXIT_USAGE;
}

// One file word, FILE or FILE@ADDRESS; false when there are three already.
bool add_file(const std::string& word, Arguments* a) {
  if (a->count == MAX_ENTRIES) return false;
  const std::size_t at = word.rfind('@');
  a->files[a->count] = at == std::string::npos ? word : word.substr(0, at);
  a->addresses[a->count] = at == std::string::npos ? DEFAULT_ADDRESS : word.substr(at + 1);
  ++a->count;
  return true;
}

// A --port word, as the platform names its ports (on Linux COM1..COM4 name
// /dev/ttyS0..3); -1, or the exit status of a refused one.
int add_port(const std::string& value, Arguments* a) {
  if (a->devices.size() == MAX_PORTS) return usage_error("at most 16 ports", nullptr);
  std::string device;
  if (!port_device(value, &device)) return usage_error("not a serial port name", value.c_str());
  if (device.size() >= static_cast<std::size_t>(JOB_PORT_NAME_SIZE)) {
    return usage_error("device path too long", nullptr);
  }
  for (const std::string& d : a->devices) {
    if (d == device) return usage_error("a port given twice", value.c_str());
  }
  a->devices.push_back(device);
  return -1;
}

// A --speed word; -1, or the exit status of an unsupported one.
int set_speed(const std::string& value, Arguments* a) {
  for (int s = 0; s < 5; ++s) {
    if (value == SPEED_TEXTS[s]) {
      a->speed_index = s;
      return -1;
    }
  }
  return usage_error("unsupported speed", value.c_str());
}

// Parses the command line; returns -1 to go on, or an exit status.
int parse_arguments(int argc, char** argv, Arguments* a) {
  optind = 0;
  opterr = 0;
  // '-': file words come back in order as 1; ':': a missing value as ':'.
  // Long options only (and -h); the letters are their getopt_long codes.
  const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},     {"list-ports", no_argument, nullptr, 'l'},
      {"no-run", no_argument, nullptr, 'n'},   {"json", no_argument, nullptr, 'j'},
      {"port", required_argument, nullptr, 'p'}, {"speed", required_argument, nullptr, 's'},
      {"trace", required_argument, nullptr, 't'}, {"log", required_argument, nullptr, 'L'},
      {"version", no_argument, nullptr, 'V'},
      {"quiet", no_argument, nullptr, 'q'},      {"verbose", no_argument, nullptr, 'v'},
      {nullptr, 0, nullptr, 0},
  };
  int c;
  while ((c = getopt_long(argc, argv, "-:hqv", long_options, nullptr)) != -1) {
    const std::string value = optarg != nullptr ? optarg : "";
    switch (c) {
      case 'h':
        std::fputs(USAGE, stdout);
        return 0;
      case 'l':
        return show_port_list(stdout, stderr);
      case 'V':
        std::fputs("imgload " ZP3K_VERSION "\n", stdout);
        return 0;
      case 'q': a->quiet = true; break;
      case 'v': a->verbose = true; break;
      case 'n': a->run_after = false; break;
      case 'j': a->json = true; break;
      case 't': a->trace = value; break;
      case 'L': a->log = value; break;
      case 'p': {
        const int refused = add_port(value, a);
        if (refused >= 0) return refused;
        break;
      }
      case 's': {
        const int refused = set_speed(value, a);
        if (refused >= 0) return refused;
        break;
      }
      case ':':
        return usage_error("missing value for", argv[optind - 1]);
      case '?':
        return usage_error("unknown option", optopt != 0 ? (std::string("-") + char(optopt)).c_str()
                                                          : argv[optind - 1]);
      default:  // 1: a file word
        if (!add_file(value, a)) return usage_error("at most three files", nullptr);
    }
  }
  for (; optind < argc; ++optind) {  // the words after "--"
    if (!add_file(argv[optind], a)) return usage_error("at most three files", nullptr);
  }
  if (a->count == 0) return usage_error("no image file given", nullptr);
  if (a->devices.empty()) a->devices.push_back(DEFAULT_DEVICE);
  // Opened (and created) here, without waiting: a log that cannot be
  // written (or a FIFO, a folder, a device) stops the job before any file
  // is checked or sent.
  std::string refusal;
  if (!a->log.empty() && !check_log_target(a->log, &refusal)) {
    return usage_error(refusal.c_str(), nullptr);
  }
  return -1;
}

// The refusals of a job before any port opens: the main dialog's warning
// and the documented exit status of each.
struct Refusal {
  int message_row;
  int exit_status;
};
constexpr Refusal REFUSED_PATH = {MSG_BAD_PATH, 11};
constexpr Refusal REFUSED_ADDRESS = {MSG_BAD_ADDRESS, 12};
constexpr Refusal REFUSED_FILE_OPEN = {MSG_FILE_OPEN, 13};
constexpr Refusal REFUSED_SIZE = {MSG_BAD_SIZE, 14};

// The advice's "detail" and "hint" fields of a JSON event, those there are.
JsonObject& with_advice(JsonObject& event, const Advice& advice) {
  if (!advice.detail.empty()) event.text("detail", advice.detail);
  if (!advice.hint.empty()) event.text("hint", advice.hint);
  return event;
}

// The refusal's message with the row number, as the main dialog's warning
// shows it, then the advice on a line of its own; returns the exit status.
int refuse_row(Terminal& terminal, const Refusal& refusal, int row, const Advice& advice = {}) {
  const int message_row = refusal.message_row;
  const std::string text = std::string(message_text(message_row)) + "(No." + std::to_string(row) + ")";
  JsonObject event;
  event.text("event", "refused").number("row", row).text("text", text)
      .text("gloss", message_gloss(message_row));
  terminal.json(with_advice(event, advice).number("exit_status", refusal.exit_status), true);
  terminal.error("imgload: " + text + " [" + message_gloss(message_row) + "]", true);
  if (!advice.detail.empty()) terminal.error("imgload: " + advice_text(advice), true);
  return refusal.exit_status;
}

// A file refused for its size that is an S-record file (its first bytes
// say so) gets told how to make an image of it.
Advice size_advice(const std::string& given, const char* path) {
  std::uint8_t first[2] = {};
  const FileHandle file = open_image_file(path);
  if (file == INVALID_FILE) return {};
  const int got = read_image_file(file, first, sizeof first);
  close_image_file(file);
  if (got != 2 || LooksLikeSrecord(first, 2) == 0) return {};
  return {given + " is an S-record file", "convert it with imgconv first"};
}

const char ADDRESS_FORM[] =
    "seven hexadecimal digits, 0008000-001F800 in steps of 0000800 or 0100000-01F0000 in steps"
    " of 0010000, or 0000000_A for address 0";

// A refused address text: the accepted form, and the accepted spelling of
// the same address when the text names one in another form.
Advice address_advice(int row, const std::string& text) {
  Advice advice{"No." + std::to_string(row) + ": address \"" + text + "\" is not accepted",
                ADDRESS_FORM};
  char suggestion[ADDRESS_SUGGESTION_SIZE];
  if (SuggestStartAddress(text.c_str(), suggestion) == 1) {
    advice.hint += std::string("; did you mean ") + suggestion + "?";
  }
  return advice;
}

// The checks of the main dialog, row by row: path, file, address. Each
// file's bytes are kept as checked: every port sends that snapshot.
int check_rows(const Arguments& a, DownloadJob* job, ImageSet* images, Terminal& terminal,
               int* refused_row) {
  for (int i = 0; i < a.count; ++i) {
    const int row = i + 1;
    *refused_row = row;
    char* path = job->paths[i];
    if (a.files[i].size() >= static_cast<std::size_t>(JOB_PATH_SIZE)) {
      return refuse_row(terminal, REFUSED_PATH, row);
    }
    std::strcpy(path, a.files[i].c_str());
    if (CompletePath(path) != 1) return refuse_row(terminal, REFUSED_PATH, row);
    switch (CheckImageFile(path, &images->files[i])) {
      case 0: break;
      case 1:
        return refuse_row(terminal, REFUSED_FILE_OPEN, row,
                          {"cannot open " + a.files[i] + ": " + image_file_open_reason(path), ""});
      default: return refuse_row(terminal, REFUSED_SIZE, row, size_advice(a.files[i], path));
    }
    // The address field holds at most 11 characters; a longer text is cut
    // there, as the dialog reads it.
    const std::string address = a.addresses[i].substr(0, ADDRESS_TEXT_LIMIT);
    if (ParseStartAddress(address.c_str(), &job->start_addresses[i]) != 1) {
      return refuse_row(terminal, REFUSED_ADDRESS, row, address_advice(row, address));
    }
  }
  *refused_row = 0;
  return -1;
}

// A download address as the warnings write it; address 0 also as the
// address field spells it.
std::string address_words(std::uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%06X%s", static_cast<unsigned>(address),
                address == 0 ? " (0000000_A)" : "");
  return text;
}

// A warning about the job: the run goes on. A JSON event, or a line on
// standard error.
void warn(Terminal& terminal, const char* kind, int row, int other, const std::string& text) {
  if (terminal.style() != ViewStyle::JSON) {
    terminal.error("imgload: warning: " + text);
    return;
  }
  JsonObject event;
  event.text("event", "warning").text("kind", kind).number("row", row);
  if (other != 0) event.number("other_row", other);
  terminal.json(event.text("text", text));
}

// What is odd about one file: an S-record file that happens to be whole
// blocks, or a header whose base address is not where the image goes.
void warn_file(const DownloadJob& job, const ImageSet& images, int i, Terminal& terminal) {
  const std::vector<std::uint8_t>& bytes = images.files[i];
  const std::string label = "No." + std::to_string(i + 1);
  if (LooksLikeSrecord(bytes.data(), bytes.size()) == 1) {
    warn(terminal, "srecord", i + 1, 0,
         label + ": " + job.paths[i] + " looks like an S-record file: convert it with imgconv first");
  }
  const imgconv::ImageSummary info = imgconv::summarize_image(bytes.data(), bytes.size());
  const std::uint32_t start = job.start_addresses[i];
  if (!info.magic_ok || info.header.base_address == start) return;
  char base[16];
  std::snprintf(base, sizeof base, "0x%06X", static_cast<unsigned>(info.header.base_address));
  warn(terminal, "base_address", i + 1, 0,
       label + ": the image's base address " + base + " differs from the download address " +
           address_words(start));
}

// Warnings, not refusals: odd files, and files whose flash ranges (start
// .. start + size) overlap, so that a later file overwrites an earlier one.
void warn_rows(const DownloadJob& job, const ImageSet& images, Terminal& terminal) {
  for (int i = 0; i < job.entry_count; ++i) {
    warn_file(job, images, i, terminal);
    const std::uint64_t start = job.start_addresses[i];
    const std::uint64_t end = start + images.files[i].size();
    for (int j = i + 1; j < job.entry_count; ++j) {
      const std::uint64_t other_start = job.start_addresses[j];
      const std::uint64_t other_end = other_start + images.files[j].size();
      if (start >= other_end || other_start >= end) continue;
      char text[160];
      std::snprintf(text, sizeof text, "No.%d (0x%06llX..0x%06llX) and No.%d (0x%06llX..0x%06llX)"
                    " overlap", i + 1, static_cast<unsigned long long>(start),
                    static_cast<unsigned long long>(end), j + 1,
                    static_cast<unsigned long long>(other_start),
                    static_cast<unsigned long long>(other_end));
      warn(terminal, "overlap", i + 1, j + 1, text);
    }
  }
}

void show_files(const DownloadJob& job, const ImageSet& images, Terminal& terminal) {
  for (int i = 0; i < job.entry_count && !terminal.quiet(); ++i) {
    const char* path = job.paths[i];
    const std::uint32_t start = job.start_addresses[i];
    const std::vector<std::uint8_t>& bytes = images.files[i];
    const imgconv::ImageSummary info = imgconv::summarize_image(bytes.data(), bytes.size());
    const imgconv::ImageHeader& h = info.header;
    const std::string version = imgconv::format_version_text(h.version);
    const std::string comment = imgconv::cp932_to_utf8(h.comment);
    const bool verifies = info.checksum_verifies();
    if (terminal.style() == ViewStyle::JSON) {
      terminal.json(JsonObject().text("event", "image").number("number", i + 1).text("path", path)
                        .number("start_address", start).flag("header", info.magic_ok)
                        .number("base_address", h.base_address).number("size", h.size)
                        .number("checksum", h.checksum).flag("checksum_verifies", verifies)
                        .number("check_value", info.check_value).text("version", version)
                        .text("comment", comment));
      continue;
    }
    // Through the terminal's queue, as every line once it runs.
    char text[160];
    std::snprintf(text, sizeof text, "%07X", static_cast<unsigned>(start));
    terminal.line("No." + std::to_string(i + 1) + " " + path + " -> " +
                  (start == 0 ? "0000000_A (address 0)" : text));
    if (!info.magic_ok) {
      terminal.line("  no image header (the file is sent as it is)");
      continue;
    }
    std::snprintf(text, sizeof text, "  base 0x%06X  size %u bytes",
                  static_cast<unsigned>(h.base_address), static_cast<unsigned>(h.size));
    terminal.line("  version " + version + "  comment \"" + one_line(comment) + "\"" + text);
    std::snprintf(text, sizeof text, "  checksum 0x%08X %s", static_cast<unsigned>(h.checksum),
                  verifies ? "verifies" : "DOES NOT VERIFY");
    terminal.line(text);
  }
  warn_rows(job, images, terminal);
}

// The exit status of each end of a download: the documented values, kept
// apart from the order of any message table.
int exit_status_of(const DownloadResult& result) {
  switch (result.end) {
    case DownloadEnd::SUCCEEDED: return EXIT_SUCCESS_RUN;
    case DownloadEnd::STOPPED:  // every file sent when the stop came in the last
      return stopped_early(result) ? EXIT_STOPPED_EARLY : EXIT_SUCCESS_RUN;
    case DownloadEnd::TIMED_OUT: return 5;
    case DownloadEnd::FILE_OPEN_FAILED: return 7;
    case DownloadEnd::FILE_READ_FAILED: return 8;
    case DownloadEnd::REPLY_REJECTED:
    case DownloadEnd::BAD_MODEL: return 9;
    case DownloadEnd::PORT_OPEN_FAILED: return 10;
    case DownloadEnd::NO_EXTERNAL_FLASH: return 15;
  }
  return EXIT_UNKNOWN;  // not reached: every end has its status above
}

// The job's rows 1..rows as the production log names them.
std::vector<LoggedFile> logged_files(const DownloadJob& job, const ImageSet& images, int rows) {
  std::vector<LoggedFile> files;
  for (int i = 0; i < rows; ++i) {
    files.push_back(logged_file(job.paths[i], images.files[i], job.start_addresses[i]));
  }
  return files;
}

// The log line of one port's run: its outcome as the "end" event gives it.
PortRecord port_record(const std::string& device, const DownloadResult& result) {
  PortRecord record;
  record.port = device;
  record.exit_status = exit_status_of(result);
  const StatusText shown = status_for(result);
  record.text = status_text(shown);
  record.gloss = status_gloss(shown);
  record.model = result.model;
  return record;
}

// A job refused at row (status 11..14) before any port opens: with --log,
// one line per port with that status, no model, and the rows checked whole
// before the refused one. Then the output's end, as after a run.
int log_refused_job(const Arguments& a, const DownloadJob& job, const ImageSet& images, int status,
                    int row, TraceFile& trace, Terminal& terminal) {
  int message_row = REFUSED_PATH.message_row;
  for (const Refusal& r : {REFUSED_PATH, REFUSED_ADDRESS, REFUSED_FILE_OPEN, REFUSED_SIZE}) {
    if (r.exit_status == status) message_row = r.message_row;
  }
  PortRecord record;
  record.time_start = record.time_end = std::chrono::system_clock::now();
  record.exit_status = status;
  record.text = std::string(message_text(message_row)) + "(No." + std::to_string(row) + ")";
  record.gloss = message_gloss(message_row);
  const ProductionLog log(a.log, logged_files(job, images, a.log.empty() ? 0 : row - 1));
  for (const std::string& device : a.devices) {
    record.port = device;
    log.append(record);
  }
  const OutputLosses losses = settle_files(log, trace, terminal, OutputClock::now() + FILES_BOUND);
  finish_output(terminal, losses, OutputClock::now() + TERMINAL_BOUND);
  return status;
}

// One port's download: its view, trace, serial port, clock and result, and
// its line in the production log when there is one.
struct PortRun {
  PortRun(Terminal& terminal, const DownloadJob& job, const SharedImages& images,
          const std::string& device, bool named, int row, TraceFile* trace,
          const std::atomic<int>& stop, const ProductionLog* log)
      : device(device),
        log(log),
        view(terminal, named ? device : std::string(), row),
        port_trace(trace != nullptr && named ? std::make_unique<TraceFile::Port>(*trace, device)
                                             : nullptr),
        port(make_system_port()),
        download(job, stop, *port, &view,
                 port_trace ? static_cast<LinkTrace*>(port_trace.get()) : trace, images),
        clock(download.countdown()) {}

  void run() {
    time_start = std::chrono::system_clock::now();
    const auto started = std::chrono::steady_clock::now();
    clock.start();
    result = download.run(clock);
    clock.stop();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (log == nullptr || logged.exchange(true)) return;
    PortRecord record = port_record(device, result);
    record.time_start = time_start;
    record.time_end = std::chrono::system_clock::now();
    log->append(record);
  }

  // The line of a run the process ends at once (a second stop request):
  // what was sent of it is unknown, the controller is left mid-way. The
  // model is there once "AD" was answered (read here, on the signal's thread,
  // from the download's atomic copy).
  void log_ended_at_once(int status) {
    if (log == nullptr || logged.exchange(true)) return;
    PortRecord record;
    record.port = device;
    record.exit_status = status;
    record.model = download.learned_model();
    record.gloss = "ended at once by a second stop request";
    record.time_start = time_start.load();
    record.time_end = std::chrono::system_clock::now();
    log->append(record);
  }

  const std::string device;
  const ProductionLog* const log;  // null without --log
  std::atomic<bool> logged{false};  // its line is written (by the run, or at an abrupt end)
  std::atomic<std::chrono::system_clock::time_point> time_start{std::chrono::system_clock::now()};
  TerminalView view;
  std::unique_ptr<TraceFile::Port> port_trace;
  std::unique_ptr<SerialPort> port;
  Download download;
  TickerClock clock;
  DownloadResult result;
  double seconds = 0;
};

// The closing table of a run over several ports: port, outcome, time.
void show_summary(const Arguments& a, const std::vector<std::unique_ptr<PortRun>>& runs,
                  Terminal& terminal) {
  std::size_t width = 4;
  for (const std::string& d : a.devices) width = d.size() > width ? d.size() : width;
  char line[1024];
  std::snprintf(line, sizeof line, "%-*s  %6s  %s", static_cast<int>(width), "port", "time", "outcome");
  terminal.line(line, true);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const StatusText o = status_for(runs[i]->result);
    std::snprintf(line, sizeof line, "%-*s  %5.1fs  %s [%s]", static_cast<int>(width),
                  a.devices[i].c_str(), runs[i]->seconds, one_line(status_text(o)).c_str(),
                  end_gloss(runs[i]->result).c_str());
    terminal.line(line, true);
  }
}

void show_ports(const Arguments& a, Terminal& terminal) {
  if (a.json || a.quiet) return;
  std::string names;
  for (const std::string& d : a.devices) names += (names.empty() ? "" : ", ") + d;
  terminal.line(std::string(a.devices.size() > 1 ? "ports " : "port ") + names + ", " +
                SPEED_TEXTS[a.speed_index] + " bit/s after the speed change, " +
                (a.run_after ? "run after download" : "no run request"));
}

// Each port's "end" event (kept even when the output is not read, with
// what the output lost); the exit status is that of the first port, in the
// order given, that did not succeed.
int report_results(const std::vector<std::unique_ptr<PortRun>>& runs, const Arguments& a,
                   Terminal& terminal, const OutputLosses& losses) {
  const bool several = runs.size() > 1;
  int status = EXIT_SUCCESS_RUN;
  std::vector<std::string> advice_lines;  // each port's, below its row
  for (std::size_t i = 0; i < runs.size(); ++i) {
    PortRun& r = *runs[i];
    const int port_status = exit_status_of(r.result);
    const StatusText shown = status_for(r.result);
    const Advice advice = end_advice(r.result, a.devices[i], r.port->holder_pid());
    JsonObject end = r.view.event("end").text("text", status_text(shown));
    if (several || stopped_early(r.result)) end.text("gloss", end_gloss(r.result));
    if (stopped_early(r.result)) end.number("files_sent", r.result.file);
    if (several) end.number("seconds", r.seconds, 1);
    with_advice(end, advice).number("exit_status", port_status);
    r.view.json_event(several ? end : with_losses(end, losses), true);
    if (!advice.detail.empty()) advice_lines.push_back(advice_text(advice));
    if (status == EXIT_SUCCESS_RUN) status = port_status;
  }
  if (several) terminal.leave_rows();
  if (terminal.style() != ViewStyle::JSON) {
    for (const std::string& line : advice_lines) terminal.error("imgload: " + line, true);
  }
  if (several) {
    if (terminal.style() == ViewStyle::JSON) {
      JsonObject summary;
      summary.text("event", "summary").number("ports", static_cast<long long>(runs.size()))
          .number("exit_status", status);
      terminal.json(with_losses(summary, losses), true);
    } else if (!a.quiet) {  // -q: each port's last line is shown already
      show_summary(a, runs, terminal);
    }
  }
  return status;
}

// What the signal thread may still reach of a run's ports: nothing once the
// run has ended and its ports go away.
struct PortsGate {
  std::mutex mutex;
  bool open = true;
};

// One port's download on this thread, several on a thread each.
void run_ports(const std::vector<std::unique_ptr<PortRun>>& runs) {
  if (runs.size() == 1) return runs[0]->run();
  std::vector<std::thread> threads;
  for (const std::unique_ptr<PortRun>& r : runs) threads.emplace_back([&r] { r->run(); });
  for (std::thread& t : threads) t.join();
}

// The signal thread's notes, while the run lasts.
std::function<void(const std::string&)> note_while_open(const std::shared_ptr<PortsGate>& gate,
                                                        TerminalView& front) {
  return [gate, &front](const std::string& text) {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (gate->open) front.note(text);
  };
}

// Ending at once, on the signal thread: each port's settings put back and
// its run logged as ended (the ports themselves are closed by the system).
std::function<void(int)> end_ports_at_once(const std::shared_ptr<PortsGate>& gate,
                                           std::vector<std::unique_ptr<PortRun>>& runs) {
  return [gate, &runs](int status) {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (!gate->open) return;
    for (const std::unique_ptr<PortRun>& r : runs) r->port->restore_settings();
    for (const std::unique_ptr<PortRun>& r : runs) r->log_ended_at_once(status);
  };
}

// The end at once of the output, on the signal thread: the log's and the
// trace's lines, then the terminal's, each within a short bound; nothing
// once the run has ended and its parts go away.
std::function<void()> finish_at_once(const std::shared_ptr<PortsGate>& gate, const ProductionLog& log,
                                     TraceFile& trace, Terminal& terminal) {
  return [gate, &log, &trace, &terminal] {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (!gate->open) return;
    const OutputLosses losses = settle_files(log, trace, terminal, OutputClock::now() + AT_ONCE_BOUND);
    finish_output(terminal, losses, OutputClock::now() + AT_ONCE_BOUND);
  };
}

int run(int argc, char** argv) {
  Arguments a;
  const int parsed = parse_arguments(argc, argv, &a);
  if (parsed >= 0) return parsed;
  // Before the output's threads start: the stop signals reach none of them.
  hold_stop_signals();
  // Opened before anything is shown or sent, as the log is.
  TraceFile trace;
  std::string refusal;
  if (!a.trace.empty() && !trace.open(a.trace, &refusal)) return usage_error(refusal.c_str(), nullptr);

  const ViewStyle style = a.json ? ViewStyle::JSON
                          : zp3k::console_shows_bar() ? ViewStyle::BAR
                                                  : ViewStyle::LINES;
  const std::size_t ports = a.devices.size();
  const bool several = ports > 1;
  // From here on every line goes through the output's queues, never stdio.
  StandardStreams streams;
  Terminal terminal(style, streams.out(), streams.err(), several ? static_cast<int>(ports) : 0,
                    a.quiet);
  if (a.verbose) trace.echo_to(&terminal);

  DownloadJob job;
  job.entry_count = a.count;
  job.run_after_download = a.run_after ? 1 : 0;
  job.speed_index = a.speed_index;
  job.port_number = 1;
  auto images = std::make_shared<ImageSet>();
  int refused_row = 0;
  const int refused = check_rows(a, &job, images.get(), terminal, &refused_row);
  if (refused >= 0) return log_refused_job(a, job, *images, refused, refused_row, trace, terminal);
  show_files(job, *images, terminal);
  const ProductionLog log(a.log, logged_files(job, *images, a.log.empty() ? 0 : a.count));

  std::atomic<int> stop_requested{0};
  std::vector<std::unique_ptr<PortRun>> runs;
  for (std::size_t i = 0; i < ports; ++i) {
    std::strcpy(job.port_device, a.devices[i].c_str());
    runs.push_back(std::make_unique<PortRun>(terminal, job, images, a.devices[i], several,
                                             static_cast<int>(i),
                                             trace.active() ? &trace : nullptr, stop_requested,
                                             a.log.empty() ? nullptr : &log));
  }
  TerminalView front(terminal);
  auto gate = std::make_shared<PortsGate>();
  start_stop_signals(StopTarget{&stop_requested, a.count, ports, note_while_open(gate, front),
                                end_ports_at_once(gate, runs),
                                finish_at_once(gate, log, trace, terminal)});
  show_ports(a, terminal);
  run_ports(runs);
  // The log's lines first, so that the end events count what was lost.
  const OutputLosses losses = settle_files(log, trace, terminal, OutputClock::now() + FILES_BOUND);
  const int status = report_results(runs, a, terminal, losses);
  finish_output(terminal, losses, OutputClock::now() + TERMINAL_BOUND);
  release_stop_signals();  // first: it may hold the gate while it notes a request
  std::lock_guard<std::mutex> lock(gate->mutex);
  gate->open = false;  // every port is closed: their settings are back
  return status;
}

}  // namespace
}  // namespace imgload

int main(int argc, char** argv) {
  zp3k::prepare_console();
  zp3k::CommandWords words(argc, argv);
  return imgload::run(words.argc(), words.argv());
}
