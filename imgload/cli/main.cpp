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
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "imgload/download/download_job.h"
#include "imgload/download/job_checks.h"
#include "imgload/download/messages.h"
#include "imgload/download/sequencer.h"
#include "image/safe_text.h"
#include "imgload/cli/command_line.h"
#include "platform/console.h"
#include "imgload/cli/dry_run.h"
#include "imgload/cli/job_rows.h"
#include "imgload/cli/loop_ports.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/platform_texts.h"
#include "imgload/cli/output_queue.h"
#include "imgload/cli/advice.h"
#include "imgload/cli/port_list.h"
#include "imgload/cli/port_run.h"
#include "imgload/cli/production_log.h"
#include "imgload/cli/run_output.h"
#include "imgload/cli/stop_signals.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/cli/trace_file.h"

namespace imgload {

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "%s: %s\nsee %s --help\n", PROGRAM_NAME, zp3k::terminal_text(problem).c_str(),
               PROGRAM_NAME);
  return EXIT_USAGE;
}

namespace {

// The refusal's message with the row number, as the main dialog's warning
// shows it, then the advice on a line of its own; returns the exit status.
int refuse_row(Terminal& terminal, const RowRefusal& refused) {
  const Outcome o = outcome_of(refused.refusal, refused.row);
  const std::string program = std::string(PROGRAM_NAME) + ": ";
  JsonObject event;
  event.text("event", "refused").number("row", refused.row).text("text", o.text).text("gloss", o.gloss);
  terminal.json(with_advice(event, refused.advice).number("exit_status", o.exit_status), true);
  terminal.error(program + o.text + " [" + o.gloss + "]", true);
  if (!refused.advice.detail.empty()) terminal.error(program + advice_text(refused.advice), true);
  return refused.refusal.exit_status;
}

// A warning about the job: the run goes on. A JSON event, or a line on
// standard error.
void warn(Terminal& terminal, const JobWarning& warning) {
  if (terminal.style() != ViewStyle::JSON) {
    terminal.error(std::string(PROGRAM_NAME) + ": warning: " + warning.text);
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
  for (int i = 0; i < job.entry_count && !terminal.quiet(); ++i) {
    const char* path = job.paths[i];
    const std::uint32_t start = job.start_addresses[i];
    const image::ImageSummary& info = images.summaries[i];
    const image::ImageHeader& h = info.header;
    const std::string version = image::format_version_text(h.version);
    const std::string comment = image::cp932_to_utf8(h.comment);
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
    terminal.line("No." + std::to_string(i + 1) + " " + zp3k::terminal_text(path) + " -> " +
                  address_field_text(start) + (start == 0 ? " (address 0)" : ""));
    if (!info.magic_ok) {
      terminal.line("  no image header (the file is sent as it is)");
      continue;
    }
    char text[160];
    std::snprintf(text, sizeof text, "  base 0x%06X  size %u bytes",
                  static_cast<unsigned>(h.base_address), static_cast<unsigned>(h.size));
    terminal.line("  version " + version + "  comment \"" + zp3k::terminal_text(one_line(comment)) +
                  "\"" + text);
    std::snprintf(text, sizeof text, "  checksum 0x%08X %s", static_cast<unsigned>(h.checksum),
                  verifies ? "verifies" : "DOES NOT VERIFY");
    terminal.line(text);
  }
  for (const JobWarning& w : job_warnings(job, images)) warn(terminal, w);
}

// The job's rows 1..rows as the production log names them.
std::vector<LoggedFile> logged_files(const DownloadJob& job, const ImageSet& images, int rows) {
  std::vector<LoggedFile> files;
  for (int i = 0; i < rows; ++i) {
    files.push_back(logged_file(job.paths[i], images.files[i], images.summaries[i], job.start_addresses[i]));
  }
  return files;
}

// A job refused at row (status 11..14, 16) before any port opens: with --log,
// one line per port with that status, no model, and the rows checked whole
// before the refused one. Then the output's end, as after a run.
int log_refused_job(const Arguments& a, const DownloadJob& job, const ImageSet& images,
                    const RowRefusal& refused, TraceFile& trace, Terminal& terminal) {
  const int row = refused.row;
  PortRecord record;
  record.time_start = record.time_end = std::chrono::system_clock::now();
  record.outcome = outcome_of(refused.refusal, row);
  const ProductionLog log(a.log, logged_files(job, images, a.log.empty() ? 0 : row - 1));
  for (const std::string& device : a.devices) {
    record.port = device;
    log.append(record);
  }
  const OutputLosses losses = settle_files(log, trace, terminal, OutputClock::now() + FILES_BOUND);
  finish_output(terminal, losses, OutputClock::now() + TERMINAL_BOUND);
  return record.outcome.exit_status;
}

// The closing table of a run over several ports: port, outcome, time.
void show_summary(const Arguments& a, const std::vector<std::unique_ptr<PortRun>>& runs,
                  Terminal& terminal) {
  std::size_t width = 4;
  for (const std::string& d : a.devices) width = d.size() > width ? d.size() : width;
  char line[1024];
  std::snprintf(line, sizeof line, "%-*s  %6s  %s", static_cast<int>(width), "port", "time", "outcome");
  terminal.line(line, true);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Outcome o = outcome_of(runs[i]->result);
    std::snprintf(line, sizeof line, "%-*s  %5.1fs  %s [%s]", static_cast<int>(width),
                  a.devices[i].c_str(), runs[i]->seconds, one_line(o.text).c_str(), o.gloss.c_str());
    terminal.line(line, true);
  }
}

// The loop's part of the ports' line.
std::string loop_words(const Arguments& a) {
  if (!a.repeat) return "";
  if (a.repeat_count == 0) return ", board after board until Ctrl-C";
  return ", board after board (" + std::to_string(a.repeat_count) + " per port)";
}

void show_ports(const Arguments& a, Terminal& terminal) {
  if (a.json || a.quiet) return;
  std::string names;
  for (const std::string& d : a.devices) names += (names.empty() ? "" : ", ") + d;
  terminal.line(std::string(a.devices.size() > 1 ? "ports " : "port ") + names + ", " +
                SPEED_TEXTS[a.speed_index] + " bit/s after the speed change, " +
                (a.run_after ? "run after download" : "no run request") + loop_words(a));
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
    const Outcome o = outcome_of(r.result);
    const int port_status = o.exit_status;
    const Advice advice = end_advice(r.result, a.devices[i], r.port->holder_pid());
    JsonObject end = r.view.event("end").text("text", o.text);
    if (several || stopped_early(r.result)) end.text("gloss", o.gloss);
    if (stopped_early(r.result)) end.number("files_sent", r.result.file);
    if (several) end.number("seconds", r.seconds, 1);
    with_advice(end, advice).number("exit_status", port_status);
    r.view.json_event(several ? end : with_losses(end, losses), true);
    if (!advice.detail.empty()) advice_lines.push_back(advice_text(advice));
    if (status == EXIT_SUCCESS_RUN) status = port_status;
  }
  if (several) terminal.leave_rows();
  if (terminal.style() != ViewStyle::JSON) {
    for (const std::string& line : advice_lines) terminal.error(std::string(PROGRAM_NAME) + ": " + line, true);
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
struct LivePorts {
  std::mutex mutex;
  bool open = true;
};

// The signal thread's notes, while the run lasts.
std::function<void(const std::string&)> note_while_open(const std::shared_ptr<LivePorts>& gate,
                                                        TerminalView& front) {
  return [gate, &front](const std::string& text) {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (gate->open) front.note(text);
  };
}

// Ending at once, on the signal thread: each port's settings put back and
// its run logged as ended (the ports themselves are closed by the system).
std::function<void(int)> end_ports_at_once(const std::shared_ptr<LivePorts>& gate,
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
std::function<void()> finish_at_once(const std::shared_ptr<LivePorts>& gate, const ProductionLog& log,
                                     TraceFile& trace, Terminal& terminal) {
  return [gate, &log, &trace, &terminal] {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (!gate->open) return;
    const OutputLosses losses = settle_files(log, trace, terminal, OutputClock::now() + AT_ONCE_BOUND);
    finish_output(terminal, losses, OutputClock::now() + AT_ONCE_BOUND);
  };
}

// The end of a dry run's output: what it showed goes out, and its status.
int finish_dry_run(Terminal& terminal, int status) {
  finish_output(terminal, OutputLosses{}, OutputClock::now() + TERMINAL_BOUND);
  return status;
}

// The production loop's notes: the first stop request's note says what the
// loop does with it, and every note of a stop wakes the waiting ports.
std::function<void(const std::string&)> loop_notes(const std::shared_ptr<LivePorts>& gate,
                                                   TerminalView& front,
                                                   const std::shared_ptr<LoopSignals>& signals) {
  auto first = std::make_shared<std::atomic<bool>>(true);
  auto note = note_while_open(gate, front);
  return [note, first, signals](const std::string& text) {
    signals->wake();
    note(first->exchange(false) ? std::string(LOOP_STOP_NOTE) : text);
  };
}

// The loop's unit ids are typed on the terminal, which plain lines leave
// alone; a bar or rows redrawn in place would move under the typing.
ViewStyle view_style(const Arguments& a) {
  if (a.json) return ViewStyle::JSON;
  return zp3k::console_shows_bar() && !(a.repeat && a.ask_unit_id) ? ViewStyle::BAR : ViewStyle::LINES;
}

// A row per port: with several ports, and for the loop's waiting status.
int terminal_rows(const Arguments& a) {
  const int ports = static_cast<int>(a.devices.size());
  return ports > 1 || a.repeat ? ports : 0;
}

// Each port's download (or, with --repeat, its loop) after the checks, with
// the stop signals wired to them; the results reported. Returns the status.
int run_ports_and_report(const Arguments& a, DownloadJob job, const SharedImages& images,
                         const ProductionLog& log, TraceFile& trace, Terminal& terminal) {
  const std::size_t ports = a.devices.size();
  std::atomic<int> stop_requested{0};
  std::vector<std::unique_ptr<PortRun>> runs;
  for (std::size_t i = 0; i < ports; ++i) {
    std::strcpy(job.port_device, a.devices[i].c_str());
    runs.push_back(std::make_unique<PortRun>(terminal, job, images, a.devices[i], ports > 1,
                                             static_cast<int>(i),
                                             trace.active() ? &trace : nullptr, stop_requested,
                                             a.log.empty() ? nullptr : &log, make_system_port(),
                                             a.repeat));
  }
  TerminalView front(terminal);
  auto gate = std::make_shared<LivePorts>();
  auto signals = std::make_shared<LoopSignals>(stop_requested);
  start_stop_signals(StopTarget{&stop_requested, a.count, ports,
                                a.repeat ? loop_notes(gate, front, signals) : note_while_open(gate, front),
                                end_ports_at_once(gate, runs),
                                finish_at_once(gate, log, trace, terminal)});
  show_ports(a, terminal);
  if (a.repeat && a.ask_unit_id) LoopSignals::start_reading(signals);
  LoopSummaries loops;
  if (a.repeat) {
    loops = run_loop_ports(runs, LoopPlan{a.ask_unit_id, a.repeat_count}, terminal, *signals);
  } else {
    run_each_port(runs);
  }
  // The log's lines first, so that the end events count what was lost.
  const OutputLosses losses = settle_files(log, trace, terminal, OutputClock::now() + FILES_BOUND);
  const int status =
      a.repeat ? report_loop(loops, terminal, losses) : report_results(runs, a, terminal, losses);
  finish_output(terminal, losses, OutputClock::now() + TERMINAL_BOUND);
  release_stop_signals();  // first: it may hold the gate while it notes a request
  std::lock_guard<std::mutex> lock(gate->mutex);
  gate->open = false;  // every port is closed: their settings are back
  return status;
}

int run(const Arguments& a) {
  // Opened (and created) first, without waiting: a log that cannot be
  // written (or a FIFO, a folder, a device) stops the job before any file
  // is checked or sent. A dry run checks the trace the same way, without
  // emptying it.
  std::string refusal;
  if (!a.log.empty() && !check_log_target(a.log, &refusal)) return usage_error(refusal);
  if (a.dry_run && !a.trace.empty() && !check_log_target(a.trace, &refusal)) return usage_error(refusal);
  // Before the output's threads start: the stop signals reach none of them.
  hold_stop_signals();
  // Opened before anything is shown or sent, as the log is.
  TraceFile trace;
  if (!a.dry_run && !a.trace.empty() && !trace.open(a.trace, &refusal)) return usage_error(refusal);

  // From here on every line goes through the output's queues, never stdio.
  StandardStreams streams;
  Terminal terminal(view_style(a), streams.out(), streams.err(), terminal_rows(a), a.quiet);
  if (a.verbose) trace.echo_to(&terminal);

  DownloadJob job;
  job.entry_count = a.count;
  job.run_after_download = a.run_after ? 1 : 0;
  job.speed_index = a.speed_index;
  job.port_number = 1;
  auto images = std::make_shared<ImageSet>();
  const RowRefusal refused = check_rows(a, &job, images.get());
  if (refused.row != 0) {
    refuse_row(terminal, refused);
    if (a.dry_run) return finish_dry_run(terminal, refused.refusal.exit_status);  // logs nothing
    return log_refused_job(a, job, *images, refused, trace, terminal);
  }
  show_files(job, *images, terminal);
  if (a.dry_run) return finish_dry_run(terminal, dry_run(a, job, *images, terminal, make_system_port));
  const ProductionLog log(a.log, logged_files(job, *images, a.log.empty() ? 0 : a.count));
  return run_ports_and_report(a, job, images, log, trace, terminal);
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
      std::puts(zp3k::version_line("imgload").c_str());  // the tool, as the log names it
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
