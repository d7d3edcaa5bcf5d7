// The dry run of the command line: ports opened and closed, the job told.
#include "imgload/cli/dry_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "image/safe_text.h"
#include "imgload/cli/advice.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/platform_texts.h"
#include "imgload/download/job_checks.h"

namespace imgload {

namespace {

// A file of the job as the dry run tells it.
struct PlannedFile {
  std::string path;
  std::uint32_t start;
  std::size_t size;
  std::string version;  // empty without an image header
};

std::vector<PlannedFile> planned_files(const DownloadJob& job, const ImageSet& images) {
  std::vector<PlannedFile> files;
  for (int i = 0; i < job.entry_count; ++i) {
    const image::ImageSummary& info = images.summaries[i];
    files.push_back({job.paths[i], job.start_addresses[i], images.files[i].size(),
                     info.magic_ok ? image::format_version_text(info.header.version) : ""});
  }
  return files;
}

void show_json(Terminal& terminal, const Arguments& a, const std::string& device, bool opens,
               const std::vector<PlannedFile>& files, const Advice& advice, const Outcome& refused) {
  std::vector<JsonObject> items;
  for (std::size_t i = 0; i < files.size(); ++i) {
    items.push_back(JsonObject().number("number", static_cast<long long>(i + 1))
                        .text("path", files[i].path).number("start_address", files[i].start)
                        .number("size", static_cast<long long>(files[i].size))
                        .text("version", files[i].version));
  }
  JsonObject event;
  event.text("event", "dry_run").text("port", device).flag("opens", opens)
      .number("speed", static_cast<long long>(SPEEDS[a.speed_index])).flag("run_request", a.run_after)
      .array("files", items);
  if (!opens) with_advice(event.text("text", one_line(refused.text)).text("gloss", refused.gloss), advice);
  terminal.json(event.number("exit_status", opens ? EXIT_SUCCESS_RUN : refused.exit_status));
}

void show_lines(Terminal& terminal, const Arguments& a, const std::string& device, bool opens,
                const std::vector<PlannedFile>& files, const Advice& advice, const Outcome& refused) {
  const std::string port = zp3k::terminal_text(device);
  if (!opens) {
    terminal.line(port + ": " + one_line(refused.text) + " [" + refused.gloss + "]");
    if (!advice.detail.empty()) terminal.error(std::string(PROGRAM_NAME) + ": " + advice_text(advice), true);
    return;
  }
  terminal.line(port + ": opens and closes at 9600 bit/s; would get at " +
                SPEED_TEXTS[a.speed_index] + " bit/s:");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const PlannedFile& f = files[i];
    terminal.line("  No." + std::to_string(i + 1) + " " + zp3k::terminal_text(f.path) + " -> " +
                  address_field_text(f.start) + "  " + std::to_string(f.size) + " bytes  " +
                  (f.version.empty() ? "no header" : "version " + f.version));
  }
  terminal.line(a.run_after ? "  then the run request" : "  no run request");
}

}  // namespace

int dry_run(const Arguments& a, const DownloadJob& job, const ImageSet& images, Terminal& terminal,
            PortMaker make_port) {
  const std::vector<PlannedFile> files = planned_files(job, images);
  DownloadResult not_opened;  // a port that does not open ends the dry run as it would a run
  not_opened.end = DownloadEnd::PORT_OPEN_FAILED;
  const Outcome refused = outcome_of(not_opened);
  terminal.leave_rows();  // lines only: no port has a progress row
  int status = EXIT_SUCCESS_RUN;
  for (const std::string& device : a.devices) {
    const std::unique_ptr<SerialPort> port = make_port();
    const zp3k::Status opened = port->open(device.c_str(), link_settings(PORT_BASE_SPEED));
    const bool opens = opened.ok();
    Advice advice;
    if (opens) {
      port->close();
    } else {
      advice = port_open_advice(device, opened, port->holder_pid());
    }
    if (terminal.style() == ViewStyle::JSON) {
      show_json(terminal, a, device, opens, files, advice, refused);
    } else {
      show_lines(terminal, a, device, opens, files, advice, refused);
    }
    if (status == EXIT_SUCCESS_RUN && !opens) status = refused.exit_status;
  }
  if (terminal.style() != ViewStyle::JSON) terminal.line("dry run: nothing was sent");
  return status;
}

}  // namespace imgload
