// The end of a run's output: the files settled, the losses told.
#include "imgload/cli/run_output.h"

#include <string>
#include <vector>

#include "imgload/cli/platform_texts.h"

namespace imgload {

namespace {

// The log lines not written, given whole on standard error after what kept them.
void show_unwritten_log(const ProductionLog& log, const std::vector<std::string>& lines,
                        const std::string& failure, Terminal& terminal) {
  if (!failure.empty()) terminal.error(std::string(PROGRAM_NAME) + ": " + failure, true);
  terminal.error(std::string(PROGRAM_NAME) + ": " + std::to_string(lines.size()) + " log line(s) not written to " +
                     log.path() + " in time; given here instead:",
                 true);
  std::string text;
  for (const std::string& line : lines) text += line;
  terminal.error_lines(text, true);
}

// A trace that lost lines to a failed write: a warning at the run's end.
void warn_trace_failure(const TraceFile& trace, Terminal& terminal) {
  const std::string text = "the trace file " + trace.path() + " could not be written: " +
                           trace.failure() + " (" + std::to_string(trace.failed_lines()) +
                           " line(s) lost)";
  if (terminal.style() == ViewStyle::JSON) {
    terminal.json(JsonObject().text("event", "warning").text("kind", "trace").text("text", text),
                  true);
  }
  terminal.error(std::string(PROGRAM_NAME) + ": warning: " + text, true);
}

}  // namespace

OutputLosses settle_files(const ProductionLog& log, TraceFile& trace, Terminal& terminal,
                          OutputClock::time_point deadline) {
  OutputLosses losses;
  std::string failure;
  const std::vector<std::string> unwritten = log.settle(deadline, &failure);
  if (!unwritten.empty()) show_unwritten_log(log, unwritten, failure, terminal);
  losses.late_log_lines = unwritten.size();
  trace.settle(deadline);
  if (!trace.failure().empty()) warn_trace_failure(trace, terminal);
  losses.dropped_trace_lines = trace.dropped_lines();
  losses.dropped_lines = terminal.dropped_lines();
  return losses;
}

JsonObject& with_losses(JsonObject& event, const OutputLosses& losses) {
  if (losses.dropped_lines != 0) {
    event.number("dropped_lines", static_cast<long long>(losses.dropped_lines));
  }
  if (losses.dropped_trace_lines != 0) {
    event.number("dropped_trace_lines", static_cast<long long>(losses.dropped_trace_lines));
  }
  if (losses.late_log_lines != 0) {
    event.number("late_log_lines", static_cast<long long>(losses.late_log_lines));
  }
  return event;
}

void finish_output(Terminal& terminal, const OutputLosses& losses, OutputClock::time_point deadline) {
  // Counted again: lines may have been dropped since the files settled.
  const std::size_t dropped = terminal.dropped_lines();
  if (dropped != 0) {
    terminal.error(std::string(PROGRAM_NAME) + ": " + std::to_string(dropped) +
                       " line(s) of output dropped: the output was not read in time",
                   true);
  }
  if (losses.dropped_trace_lines != 0) {
    terminal.error(std::string(PROGRAM_NAME) + ": " + std::to_string(losses.dropped_trace_lines) +
                       " trace line(s) dropped: the trace file was not written in time",
                   true);
  }
  terminal.drain(deadline);
}

}  // namespace imgload
