// imgload for Linux: checks one to three image files with the same rules and
// messages as the Windows main dialog, shows their headers, and runs the
// same download sequencer over one serial device, or over several at once
// (one download and thread per port), with a progress display, Ctrl-C as the
// stop request and an exit status for each outcome.
#include <getopt.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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
#include "imgload/cli/stop_signals.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/cli/ticker_clock.h"
#include "imgload/cli/trace_file.h"

namespace imgload {
namespace {

// Exit statuses: 0 only after "ダウンロード正常終了"; a failure of the run
// exits with its status row, a refused job row with its message row.
constexpr int EXIT_SUCCESS_RUN = 0;
constexpr int EXIT_UNKNOWN = 1;
constexpr int EXIT_USAGE = 2;
constexpr int ADDRESS_TEXT_LIMIT = 11; // characters the address field holds
constexpr std::size_t MAX_PORTS = 16;  // controllers driven at once
const char DEFAULT_ADDRESS[] = "0008000";
const char* const DEFAULT_DEVICE = DEFAULT_PORT_DEVICE;  // COM1

const char USAGE[] =
    "usage: imgload [--port DEVICE]... [--speed 9600|19200|38400|57600|115200] [--no-run]\n"
    "               [--json] [--trace FILE] FILE[@ADDRESS] [FILE[@ADDRESS] [FILE[@ADDRESS]]]\n"
    "       imgload --list-ports\n"
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
    "  --list-ports    list candidate serial devices and exit\n"
    "  ADDRESS         the flash start address as the address field takes it:\n"
    "                  seven hexadecimal digits, 0008000 to 001F800 in steps of\n"
    "                  0000800 or 0100000 to 01F0000 in steps of 0010000;\n"
    "                  0000000_A for address 0 (default 0008000). A path that\n"
    "                  contains '@' needs an explicit address.\n"
    "\n"
    "Ctrl-C once asks every port to stop after its current file (the run then\n"
    "ends as after the last file); Ctrl-C again ends at once (the system closes\n"
    "the ports).\n"
    "\n"
    "exit status:\n"
    "   0  ダウンロード正常終了 (download completed normally)\n"
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
    "   2  bad command line\n"
    " 130  ended by a second Ctrl-C\n";

struct Arguments {
  std::vector<std::string> devices;  // none given: DEFAULT_DEVICE
  int speed_index = 4;
  bool run_after = true;
  bool json = false;
  std::string trace;
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
      {"trace", required_argument, nullptr, 't'}, {nullptr, 0, nullptr, 0},
  };
  int c;
  while ((c = getopt_long(argc, argv, "-:h", long_options, nullptr)) != -1) {
    const std::string value = optarg != nullptr ? optarg : "";
    switch (c) {
      case 'h':
        std::fputs(USAGE, stdout);
        return 0;
      case 'l':
        for (const PortCandidate& p : list_ports()) std::printf("%s  %s\n", p.path.c_str(), p.note.c_str());
        return 0;
      case 'n': a->run_after = false; break;
      case 'j': a->json = true; break;
      case 't': a->trace = value; break;
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

// The refusal's message with the row number, as the main dialog's warning
// shows it; returns the exit status.
int refuse_row(Terminal& terminal, const Refusal& refusal, int row) {
  const int message_row = refusal.message_row;
  const std::string text = std::string(message_text(message_row)) + "(No." + std::to_string(row) + ")";
  terminal.json(JsonObject().text("event", "refused").number("row", row).text("text", text)
                    .text("gloss", message_gloss(message_row))
                    .number("exit_status", refusal.exit_status));
  std::fprintf(stderr, "imgload: %s [%s]\n", text.c_str(), message_gloss(message_row));
  return refusal.exit_status;
}

// The checks of the main dialog, row by row: path, file, address. Each
// file's bytes are kept as checked: every port sends that snapshot.
int check_rows(const Arguments& a, DownloadJob* job, ImageSet* images, Terminal& terminal) {
  for (int i = 0; i < a.count; ++i) {
    const int row = i + 1;
    char* path = job->paths[i];
    if (a.files[i].size() >= static_cast<std::size_t>(JOB_PATH_SIZE)) {
      return refuse_row(terminal, REFUSED_PATH, row);
    }
    std::strcpy(path, a.files[i].c_str());
    if (CompletePath(path) != 1) return refuse_row(terminal, REFUSED_PATH, row);
    switch (CheckImageFile(path, &images->files[i])) {
      case 0: break;
      case 1: return refuse_row(terminal, REFUSED_FILE_OPEN, row);
      default: return refuse_row(terminal, REFUSED_SIZE, row);
    }
    // The address field holds at most 11 characters; a longer text is cut
    // there, as the dialog reads it.
    const std::string address = a.addresses[i].substr(0, ADDRESS_TEXT_LIMIT);
    if (ParseStartAddress(address.c_str(), &job->start_addresses[i]) != 1) {
      return refuse_row(terminal, REFUSED_ADDRESS, row);
    }
  }
  return -1;
}

void show_files(const DownloadJob& job, const ImageSet& images, Terminal& terminal) {
  for (int i = 0; i < job.entry_count; ++i) {
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
    char address[16];
    std::snprintf(address, sizeof address, "%07X", static_cast<unsigned>(start));
    std::printf("No.%d %s -> %s\n", i + 1, path, start == 0 ? "0000000_A (address 0)" : address);
    if (!info.magic_ok) {
      std::printf("  no image header (the file is sent as it is)\n");
      continue;
    }
    std::printf("  version %s  comment \"%s\"  base 0x%06X  size %u bytes\n", version.c_str(),
                one_line(comment).c_str(), static_cast<unsigned>(h.base_address),
                static_cast<unsigned>(h.size));
    std::printf("  checksum 0x%08X %s\n", static_cast<unsigned>(h.checksum),
                verifies ? "verifies" : "DOES NOT VERIFY");
  }
  std::fflush(stdout);
}

// The exit status of each end of a download: the documented values, kept
// apart from the order of any message table.
int exit_status_of(const DownloadResult& result) {
  switch (result.end) {
    case DownloadEnd::SUCCEEDED:
    case DownloadEnd::STOPPED: return EXIT_SUCCESS_RUN;
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

// One port's download: its view, trace, serial port, clock and result.
struct PortRun {
  PortRun(Terminal& terminal, const DownloadJob& job, const SharedImages& images,
          const std::string& device, bool named, int row, TraceFile* trace,
          const std::atomic<int>& stop)
      : view(terminal, named ? device : std::string(), row),
        port_trace(trace != nullptr && named ? std::make_unique<TraceFile::Port>(*trace, device)
                                             : nullptr),
        port(make_system_port()),
        download(job, stop, *port, &view,
                 port_trace ? static_cast<LinkTrace*>(port_trace.get()) : trace, images),
        clock(download.countdown()) {}

  void run() {
    const auto started = std::chrono::steady_clock::now();
    clock.start();
    result = download.run(clock);
    clock.stop();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }

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
  terminal.line(line);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const StatusText o = status_for(runs[i]->result);
    std::snprintf(line, sizeof line, "%-*s  %5.1fs  %s [%s]", static_cast<int>(width),
                  a.devices[i].c_str(), runs[i]->seconds, one_line(status_text(o)).c_str(),
                  status_gloss(o));
    terminal.line(line);
  }
}

void show_ports(const Arguments& a) {
  if (a.json) return;
  std::string names;
  for (const std::string& d : a.devices) names += (names.empty() ? "" : ", ") + d;
  std::printf("%s %s, %s bit/s after the speed change, %s\n",
              a.devices.size() > 1 ? "ports" : "port", names.c_str(), SPEED_TEXTS[a.speed_index],
              a.run_after ? "run after download" : "no run request");
  std::fflush(stdout);
}

// Each port's "end" event; the exit status is that of the first port, in
// the order given, that did not succeed.
int report_results(const std::vector<std::unique_ptr<PortRun>>& runs, const Arguments& a,
                   Terminal& terminal) {
  const bool several = runs.size() > 1;
  int status = EXIT_SUCCESS_RUN;
  for (const std::unique_ptr<PortRun>& r : runs) {
    const int port_status = exit_status_of(r->result);
    const StatusText shown = status_for(r->result);
    JsonObject end = r->view.event("end").text("text", status_text(shown));
    if (several) end.text("gloss", status_gloss(shown)).number("seconds", r->seconds, 1);
    r->view.json_event(end.number("exit_status", port_status));
    if (status == EXIT_SUCCESS_RUN) status = port_status;
  }
  if (several) {
    terminal.leave_rows();
    if (terminal.style() == ViewStyle::JSON) {
      terminal.json(JsonObject().text("event", "summary")
                        .number("ports", static_cast<long long>(runs.size()))
                        .number("exit_status", status));
    } else {
      show_summary(a, runs, terminal);
    }
  }
  return status;
}

int run(int argc, char** argv) {
  Arguments a;
  const int parsed = parse_arguments(argc, argv, &a);
  if (parsed >= 0) return parsed;

  const ViewStyle style = a.json ? ViewStyle::JSON
                          : zp3k::console_shows_bar() ? ViewStyle::BAR
                                                  : ViewStyle::LINES;
  const std::size_t ports = a.devices.size();
  const bool several = ports > 1;
  Terminal terminal(style, stdout, several ? static_cast<int>(ports) : 0);

  DownloadJob job;
  job.entry_count = a.count;
  job.run_after_download = a.run_after ? 1 : 0;
  job.speed_index = a.speed_index;
  job.port_number = 1;
  auto images = std::make_shared<ImageSet>();
  const int refused = check_rows(a, &job, images.get(), terminal);
  if (refused >= 0) return refused;
  show_files(job, *images, terminal);

  TraceFile trace;
  if (!a.trace.empty() && !trace.open(a.trace.c_str())) {
    return usage_error("cannot write the trace file", a.trace.c_str());
  }

  std::atomic<int> stop_requested{0};
  std::vector<std::unique_ptr<PortRun>> runs;
  for (std::size_t i = 0; i < ports; ++i) {
    std::strcpy(job.port_device, a.devices[i].c_str());
    runs.push_back(std::make_unique<PortRun>(terminal, job, images, a.devices[i], several,
                                             static_cast<int>(i),
                                             a.trace.empty() ? nullptr : &trace, stop_requested));
  }
  TerminalView front(terminal);
  start_stop_signals(StopTarget{&stop_requested, &front, a.count, ports, [&runs] {
    for (const std::unique_ptr<PortRun>& r : runs) r->port->restore_settings();
  }});
  show_ports(a);
  std::vector<std::thread> threads;
  for (const std::unique_ptr<PortRun>& r : runs) {
    if (several) threads.emplace_back([&r] { r->run(); });
  }
  if (!several) runs[0]->run();
  for (std::thread& t : threads) t.join();
  return report_results(runs, a, terminal);
}

}  // namespace
}  // namespace imgload

int main(int argc, char** argv) {
  zp3k::prepare_console();
  zp3k::CommandWords words(argc, argv);
  return imgload::run(words.argc(), words.argv());
}
