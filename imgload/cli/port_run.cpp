// One port's download of the command line, and its production log line.
#include "imgload/cli/port_run.h"

#include "imgload/cli/outcome.h"

namespace imgload {

PortRun::PortRun(Terminal& terminal, const DownloadJob& job, const SharedImages& images,
                 const std::string& device, bool named, int row, TraceFile* trace,
                 const std::atomic<int>& stop, const ProductionLog* log,
                 std::unique_ptr<SerialPort> device_port, bool awaits_boards)
    : device(device),
      log(log),
      logged(awaits_boards),
      view(terminal, named ? device : std::string(), row),
      port_trace(trace != nullptr && named ? std::make_unique<TraceFile::Port>(*trace, device)
                                           : nullptr),
      port(std::move(device_port)),
      link_port(*port),
      download(job, stop, link_port, view,
               port_trace ? *port_trace : trace != nullptr ? *trace : no_link_trace(), images),
      clock(download.countdown()) {}

void PortRun::begin_board(int unit, std::optional<std::string> unit_id) {
  {
    std::lock_guard<std::mutex> lock(unit_mutex_);
    unit_ = unit;
    unit_id_ = std::move(unit_id);
  }
  time_start = std::chrono::system_clock::now();
  logged = false;
}

// The unit and its id are read under their lock: the signal's thread logs
// an abrupt end while the loop may begin the next board.
void PortRun::log_once(const Outcome& outcome, int model) {
  if (log == nullptr || logged.exchange(true)) return;
  PortRecord record;
  record.port = device;
  {
    std::lock_guard<std::mutex> lock(unit_mutex_);
    record.unit = unit_;
    record.unit_id = unit_id_;
  }
  record.outcome = outcome;
  record.model = model;
  record.time_start = time_start.load();
  record.time_end = std::chrono::system_clock::now();
  log->append(record);
}

void PortRun::run() {
  time_start = std::chrono::system_clock::now();
  const auto started = std::chrono::steady_clock::now();
  clock.start();
  result = download.run(clock);
  clock.stop();
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  log_once(outcome_of(result), result.model);
}

void PortRun::log_ended_at_once(int status) {
  log_once({"", "ended at once by a second stop request", status}, download.learned_model());
}

}  // namespace imgload
