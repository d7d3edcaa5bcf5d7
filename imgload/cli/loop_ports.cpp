// The production loop's threads: one loop per port, the operator's lines,
// and the loop's closing report.
#include "imgload/cli/loop_ports.h"

#include <thread>

#include "imgload/cli/operator_input.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/platform_texts.h"
#include "imgload/download/status_line.h"

namespace imgload {

const char LOOP_STOP_NOTE[] =
    "imgload: stop requested: a port that waits ends now, a board being flashed finishes "
    "its current file, then the loop ends (Ctrl-C again ends at once)";

namespace {

const char INPUT_ENDED_NOTE[] =
    "imgload: the input of unit ids has ended: the loop ends as after a stop request";

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The next line of standard input without its line end (CR LF or LF);
// pending keeps what was read past it. A last line without its line end
// still counts. False at the end of the input.
bool next_input_line(std::string* pending, std::string* line) {
  for (;;) {
    const std::size_t end = pending->find('\n');
    if (end != std::string::npos) {
      *line = pending->substr(0, end);
      pending->erase(0, end + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    if (!read_more_input(pending)) {
      if (pending->empty()) return false;
      *line = *pending;
      pending->clear();
      return true;
    }
  }
}

}  // namespace

void LoopSignals::wake() {
  { std::lock_guard<std::mutex> lock(mutex_); }  // a waiter is past its check, or waiting
  changed_.notify_all();
}

void LoopSignals::request_stop() {
  stop_.store(1);
  wake();
}

bool LoopSignals::sleep_until(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_until(lock, deadline, [&] { return stopped(); });
  return stopped();
}

void LoopSignals::add_line(std::string line) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
  }
  changed_.notify_all();
}

void LoopSignals::end_input() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    input_ended_ = true;
  }
  changed_.notify_all();
}

void LoopSignals::start_reading(const std::shared_ptr<LoopSignals>& signals) {
  std::thread([signals] {
    std::string pending;
    std::string line;
    while (next_input_line(&pending, &line)) signals->add_line(line);
    signals->end_input();
  }).detach();
}

LoopSignals::Taken LoopSignals::release_turn(Taken taken) {
  prompting_ = false;
  changed_.notify_all();
  return taken;
}

LoopSignals::Taken LoopSignals::take_line(const std::function<void()>& prompt, std::string* line) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !prompting_ || stopped(); });
  if (stopped()) return Taken::STOPPED;
  prompting_ = true;
  for (;;) {
    lock.unlock();
    prompt();  // queued for the output; never waits for it
    lock.lock();
    changed_.wait(lock, [&] { return !lines_.empty() || input_ended_ || stopped(); });
    if (stopped()) return release_turn(Taken::STOPPED);
    if (lines_.empty()) return release_turn(Taken::INPUT_ENDED);
    *line = trimmed(lines_.front());
    lines_.pop_front();
    if (!line->empty()) return release_turn(Taken::LINE);
  }
}

namespace {

// One port's loop, on its own thread: the phases of next_phase, each pass
// carried out on the port's run.
class PortLoop {
 public:
  PortLoop(PortRun& run, const LoopPlan& plan, Terminal& terminal, LoopSignals& signals, int row)
      : run_(run), plan_(plan), terminal_(terminal), signals_(signals), row_(row) {}

  void run();
  LoopSummary summary() const { return {run_.device, tally_, seconds_}; }

 private:
  LoopEvent pass(LoopPhase phase);
  LoopEvent ask_unit_id();
  LoopEvent probe(LoopPhase phase);
  LoopEvent flash();
  void show_waiting(const WaitingState& state);
  void tell_board(const Outcome& outcome);

  PortRun& run_;
  const LoopPlan plan_;
  Terminal& terminal_;
  LoopSignals& signals_;
  const int row_;
  LoopTally tally_;
  double seconds_ = 0;
  int unit_ = 0;
  std::optional<std::string> unit_id_;
  std::string shown_;  // the status last shown, so that only a change is shown
  std::chrono::steady_clock::time_point next_probe_ = std::chrono::steady_clock::now();
};

void PortLoop::run() {
  const auto started = std::chrono::steady_clock::now();
  LoopPhase phase = first_phase(plan_);
  while (phase != LoopPhase::ENDED) phase = next_phase(phase, pass(phase), plan_);
  // The probe's port, handed over or not, is closed: its settings go back.
  run_.link_port.take_back();
  run_.port->close();
  seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

// A stop ends every phase before it begins; a download in progress sees it
// itself, after its current file.
LoopEvent PortLoop::pass(LoopPhase phase) {
  if (signals_.stopped()) return {LoopEvent::STOPPED};
  switch (phase) {
    case LoopPhase::ASK_UNIT_ID: return ask_unit_id();
    case LoopPhase::FLASH: return flash();
    default: return probe(phase);
  }
}

LoopEvent PortLoop::ask_unit_id() {
  const int unit = unit_ + 1;
  const auto prompt = [&] {
    if (terminal_.style() == ViewStyle::JSON) {
      JsonObject asked;
      asked.text("port", run_.device).text("event", "unit_id_asked").number("unit", unit);
      terminal_.json(asked, true);
    } else {
      terminal_.line(run_.device + "  unit " + std::to_string(unit) +
                         ": unit id? (scan or type it, then Enter)",
                     true);
    }
  };
  std::string id;
  switch (signals_.take_line(prompt, &id)) {
    case LoopSignals::Taken::LINE:
      unit_id_ = id;
      shown_.clear();  // the prompt came between: the status is shown again
      return {LoopEvent::UNIT_ID_GIVEN};
    case LoopSignals::Taken::INPUT_ENDED:
      run_.view.note(INPUT_ENDED_NOTE);
      signals_.request_stop();  // every port ends as after a stop
      return {LoopEvent::INPUT_ENDED};
    case LoopSignals::Taken::STOPPED:
      break;
  }
  return {LoopEvent::STOPPED};
}

// One quiet model request when its time has come; the status shown when it changed.
LoopEvent PortLoop::probe(LoopPhase phase) {
  if (signals_.sleep_until(next_probe_)) return {LoopEvent::STOPPED};
  next_probe_ = std::chrono::steady_clock::now() + PROBE_INTERVAL;
  run_.link_port.take_back();
  const ProbeResult found = probe_controller(*run_.port, run_.device.c_str(), run_.clock, PROBE_WAIT_MS);
  WaitingState state{phase, found.presence, ""};
  if (found.presence == Presence::PORT_REFUSED) {
    state.refusal = advice_text(port_open_advice(run_.device, found.port, run_.port->holder_pid()));
  }
  // Shown as the probe leaves the port: a board that left makes it wait for
  // the next (or for its unit id, whose prompt says so); one that came is flashed.
  const LoopEvent probed{LoopEvent::PROBED, found.presence};
  state.phase = next_phase(phase, probed, plan_);
  if (state.phase == LoopPhase::AWAIT_BOARD || state.phase == LoopPhase::AWAIT_LEAVE) show_waiting(state);
  return probed;
}

void PortLoop::show_waiting(const WaitingState& state) {
  const std::string line = waiting_line(run_.device, state, tally_);
  if (line == shown_ || terminal_.quiet()) return;
  shown_ = line;
  if (terminal_.style() == ViewStyle::JSON) {
    terminal_.json(waiting_event(run_.device, state, tally_));
  } else if (terminal_.has_rows()) {
    terminal_.row(row_, line);
  } else {
    terminal_.line(line);
  }
}

// The board that answered, flashed on the port the probe hands over open.
LoopEvent PortLoop::flash() {
  ++unit_;
  run_.begin_board(unit_, plan_.ask_unit_id ? unit_id_ : std::nullopt);
  run_.link_port.hand_over();
  run_.run();
  const Outcome outcome = outcome_of(run_.result);
  tally_.add(outcome.exit_status);
  tell_board(outcome);
  shown_.clear();
  next_probe_ = std::chrono::steady_clock::now();  // at once: has it left?
  return {LoopEvent::FLASHED, Presence::SILENT, tally_.boards()};
}

// The board's line (kept even when the output is not read), and a failure's
// advice on standard error as a single run gives it.
void PortLoop::tell_board(const Outcome& outcome) {
  const DownloadResult& r = run_.result;
  BoardReport board;
  board.port = run_.device;
  board.unit = unit_;
  if (plan_.ask_unit_id) board.unit_id = unit_id_;
  board.outcome = outcome;
  board.seconds = run_.seconds;
  board.advice = end_advice(r, run_.device, run_.port->holder_pid());
  if (terminal_.style() == ViewStyle::JSON) {
    terminal_.json(board_event(board, tally_), true);
    return;
  }
  terminal_.line(board_line(board, tally_), true);
  if (!board.advice.detail.empty()) {
    terminal_.error(std::string(PROGRAM_NAME) + ": " + advice_text(board.advice), true);
  }
}

}  // namespace

LoopSummaries run_loop_ports(const std::vector<std::unique_ptr<PortRun>>& runs, const LoopPlan& plan,
                             Terminal& terminal, LoopSignals& signals) {
  std::vector<std::unique_ptr<PortLoop>> loops;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    loops.push_back(std::make_unique<PortLoop>(*runs[i], plan, terminal, signals, static_cast<int>(i)));
  }
  run_each_port(loops);
  LoopSummaries summaries;
  for (const std::unique_ptr<PortLoop>& loop : loops) summaries.push_back(loop->summary());
  return summaries;
}

int report_loop(const LoopSummaries& ports, Terminal& terminal, const OutputLosses& losses) {
  std::vector<LoopTally> tallies;
  int passed = 0;
  int failed = 0;
  for (const LoopSummary& p : ports) {
    tallies.push_back(p.tally);
    passed += p.tally.passed;
    failed += p.tally.failed;
  }
  const int status = loop_exit_status(tallies);
  terminal.leave_rows();
  if (terminal.style() == ViewStyle::JSON) {
    for (const LoopSummary& p : ports) terminal.json(loop_end_event(p), true);
    JsonObject summary;
    summary.text("event", "summary").number("ports", static_cast<long long>(ports.size()))
        .number("passed", passed).number("failed", failed).number("exit_status", status);
    terminal.json(with_losses(summary, losses), true);
    return status;
  }
  for (const std::string& line : summary_lines(ports)) terminal.line(line, true);
  return status;
}

}  // namespace imgload
