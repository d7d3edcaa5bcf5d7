// imgload for Linux: checks one to three image files with the same rules and
// messages as the Windows main dialog, shows their headers, and runs the
// same download sequencer over one serial device, or over several at once
// (one download and thread per port), with a progress display, Ctrl-C as the
// stop request and an exit status for each outcome.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/image_format.h"
#include "imgload/download/download_job.h"
#include "imgload/download/messages.h"
#include "imgload/download/sequencer.h"
#include "image/safe_text.h"
#include "imgload/cli/command_line.h"
#include "imgload/cli/console.h"
#include "imgload/cli/dry_run.h"
#include "imgload/cli/job_rows.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/platform_texts.h"
#include "imgload/cli/port_list.h"
#include "imgload/cli/production_log.h"
#include "imgload/cli/stop_signals.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/cli/ticker_clock.h"
#include "imgload/cli/trace_file.h"
#include "zp3k_version.h"

namespace imgload {

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "%s: %s\nsee %s --help\n", PROGRAM_NAME, problem.c_str(), PROGRAM_NAME);
  return EXIT_USAGE;
}

namespace {

// The advice's "detail" and "hint" fields of a JSON event, those there are.
JsonObject& with_advice(JsonObject& event, const Advice& advice) {
  if (!advice.detail.empty()) event.text("detail", advice.detail);
  if (!advice.hint.empty()) event.text("hint", advice.hint);
  return event;
}

// The refusal's message with the row number, as the main dialog's warning
// shows it, then the advice on a line of its own; returns the exit status.
int refuse_row(Terminal& terminal, const RowRefusal& refused) {
  const char* gloss = refusal_gloss(refused.refusal);
  const std::string text =
      std::string(refusal_text(refused.refusal)) + "(No." + std::to_string(refused.row) + ")";
  JsonObject event;
  event.text("event", "refused").number("row", refused.row).text("text", text)
      .text("gloss", gloss);
  terminal.json(with_advice(event, refused.advice).number("exit_status", refused.refusal.exit_status));
  std::fprintf(stderr, "%s: %s [%s]\n", PROGRAM_NAME, text.c_str(), gloss);
  if (!refused.advice.detail.empty()) {
    std::fprintf(stderr, "%s: %s\n", PROGRAM_NAME, advice_text(refused.advice).c_str());
  }
  return refused.refusal.exit_status;
}

// A warning about the job: the run goes on. A JSON event, or a line on
// standard error.
void warn(Terminal& terminal, const JobWarning& warning) {
  if (terminal.style() != ViewStyle::JSON) {
    std::fprintf(stderr, "%s: warning: %s\n", PROGRAM_NAME, warning.text.c_str());
    return;
  }
  JsonObject event;
  event.text("event", "warning").text("kind", warning.kind).number("row", warning.row);
  if (warning.other_row != 0) event.number("other_row", warning.other_row);
  terminal.json(event.text("text", warning.text));
}

// Each file's header as the job sends it; paths and comments come from
// files, so a terminal gets them with control characters escaped.
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
    std::printf("No.%d %s -> %s\n", i + 1, zp3k::terminal_text(path).c_str(),
                start == 0 ? "0000000_A (address 0)" : address);
    if (!info.magic_ok) {
      std::printf("  no image header (the file is sent as it is)\n");
      continue;
    }
    std::printf("  version %s  comment \"%s\"  base 0x%06X  size %u bytes\n", version.c_str(),
                zp3k::terminal_text(one_line(comment)).c_str(),
                static_cast<unsigned>(h.base_address), static_cast<unsigned>(h.size));
    std::printf("  checksum 0x%08X %s\n", static_cast<unsigned>(h.checksum),
                verifies ? "verifies" : "DOES NOT VERIFY");
  }
  std::fflush(stdout);
  for (const JobWarning& w : job_warnings(job, images)) warn(terminal, w);
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

// A job refused at row (status 11..14, 16) before any port opens: with --log,
// one line per port with that status, no model, and the rows checked whole
// before the refused one.
int log_refused_job(const Arguments& a, const DownloadJob& job, const ImageSet& images,
                    const RowRefusal& refused) {
  const int status = refused.refusal.exit_status;
  const int row = refused.row;
  if (a.log.empty()) return status;
  PortRecord record;
  record.time_start = record.time_end = std::chrono::system_clock::now();
  record.exit_status = status;
  record.text = std::string(refusal_text(refused.refusal)) + "(No." + std::to_string(row) + ")";
  record.gloss = refusal_gloss(refused.refusal);
  const ProductionLog log(a.log, logged_files(job, images, row - 1));
  for (const std::string& device : a.devices) {
    record.port = device;
    log.append(record);
  }
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
  // what was sent of it is unknown, the controller is left mid-way.
  void log_ended_at_once(int status) {
    if (log == nullptr || logged.exchange(true)) return;
    PortRecord record;
    record.port = device;
    record.exit_status = status;
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
  terminal.line(line);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const StatusText o = status_for(runs[i]->result);
    std::snprintf(line, sizeof line, "%-*s  %5.1fs  %s [%s]", static_cast<int>(width),
                  a.devices[i].c_str(), runs[i]->seconds, one_line(status_text(o)).c_str(),
                  end_gloss(runs[i]->result).c_str());
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
    r.view.json_event(with_advice(end, advice).number("exit_status", port_status));
    if (!advice.detail.empty()) advice_lines.push_back(advice_text(advice));
    if (status == EXIT_SUCCESS_RUN) status = port_status;
  }
  if (several) terminal.leave_rows();
  if (terminal.style() != ViewStyle::JSON) {
    for (const std::string& line : advice_lines) std::fprintf(stderr, "%s: %s\n", PROGRAM_NAME, line.c_str());
  }
  if (several) {
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

// What the signal thread may still reach of a run's ports: nothing once the
// run has ended and its ports go away.
struct PortsGate {
  std::mutex mutex;
  bool open = true;
};

// The production loop's options are read (and documented) but the loop is
// not part of this program yet: a single board must not pass for a loop.
bool asks_for_the_loop(const Arguments& a) { return a.repeat || a.ask_unit_id; }

// --dry-run past the job's checks: the trace file checked without being
// emptied, each port opened and closed.
int run_dry(const Arguments& a, const DownloadJob& job, const ImageSet& images, Terminal& terminal) {
  if (!a.trace.empty() && !append_to_log(a.trace, std::string())) {
    return usage_error("cannot write the trace file: " + a.trace);
  }
  return dry_run(a, job, images, terminal, make_system_port);
}

int run(const Arguments& a) {
  if (asks_for_the_loop(a)) {
    return usage_error("--repeat and --ask-unit-id (repeat, ask_unit_id): the production loop is "
                       "not available in this version");
  }
  // Opened (and created) first: a log that cannot be written stops the job
  // before any file is checked or sent.
  if (!a.log.empty() && !append_to_log(a.log, std::string())) {
    return usage_error("cannot open the log file: " + a.log);
  }

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
  const RowRefusal refused = check_rows(a, &job, images.get());
  if (refused.row != 0) {
    const int status = refuse_row(terminal, refused);
    return a.dry_run ? status : log_refused_job(a, job, *images, refused);  // a dry run logs nothing
  }
  show_files(job, *images, terminal);
  if (a.dry_run) return run_dry(a, job, *images, terminal);
  const ProductionLog log(a.log, logged_files(job, *images, a.log.empty() ? 0 : a.count));

  TraceFile trace;
  if (!a.trace.empty() && !trace.open(a.trace.c_str())) {
    return usage_error("cannot write the trace file: " + a.trace);
  }

  std::atomic<int> stop_requested{0};
  std::vector<std::unique_ptr<PortRun>> runs;
  for (std::size_t i = 0; i < ports; ++i) {
    std::strcpy(job.port_device, a.devices[i].c_str());
    runs.push_back(std::make_unique<PortRun>(terminal, job, images, a.devices[i], several,
                                             static_cast<int>(i),
                                             a.trace.empty() ? nullptr : &trace, stop_requested,
                                             a.log.empty() ? nullptr : &log));
  }
  TerminalView front(terminal);
  auto gate = std::make_shared<PortsGate>();
  start_stop_signals(StopTarget{&stop_requested, &front, a.count, ports, [gate, &runs](int status) {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (!gate->open) return;
    for (const std::unique_ptr<PortRun>& r : runs) r->port->restore_settings();
    for (const std::unique_ptr<PortRun>& r : runs) r->log_ended_at_once(status);
  }});
  show_ports(a);
  std::vector<std::thread> threads;
  for (const std::unique_ptr<PortRun>& r : runs) {
    if (several) threads.emplace_back([&r] { r->run(); });
  }
  if (!several) runs[0]->run();
  for (std::thread& t : threads) t.join();
  const int status = report_results(runs, a, terminal);
  std::lock_guard<std::mutex> lock(gate->mutex);
  gate->open = false;  // every port is closed: their settings are back
  return status;
}

}  // namespace
}  // namespace imgload

int main(int argc, char** argv) {
  zp3k::prepare_console();
  zp3k::CommandWords words(argc, argv);
  const imgload::CommandLine command = imgload::read_command_line(words.argc(), words.argv());
  switch (command.action) {
    case imgload::Action::HELP:
      std::fputs(imgload::usage_text().c_str(), stdout);
      return 0;
    case imgload::Action::VERSION:
      std::fputs("imgload " ZP3K_VERSION "\n", stdout);  // the tool, as the log names it
      return 0;
    case imgload::Action::LIST_PORTS:
      return imgload::show_port_list(stdout, stderr);
    case imgload::Action::REFUSED:
      return imgload::usage_error(command.problem);
    case imgload::Action::RUN:
      break;
  }
  return imgload::run(command.arguments);
}
