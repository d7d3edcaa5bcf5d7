// The end of a run's output: the log's and the trace's last lines waited for
// a bounded time, a log line that could not be written shown whole on
// standard error instead, a trace that could not be written warned about,
// and what the reader of the output did not take in time counted and told.
#pragma once

#include <chrono>
#include <cstddef>

#include "imgload/cli/output_queue.h"
#include "imgload/cli/production_log.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/cli/trace_file.h"

namespace imgload {

// How long the end of a run waits for its output.
constexpr std::chrono::milliseconds FILES_BOUND{2000};      // ms for the log and the trace
constexpr std::chrono::milliseconds TERMINAL_BOUND{1000};   // ms for standard output and error
constexpr std::chrono::milliseconds AT_ONCE_BOUND{300};     // ms for each, when ending at once

// What a run's output lost.
struct OutputLosses {
  std::size_t dropped_lines = 0;        // standard output and error: their reader did not keep up
  std::size_t dropped_trace_lines = 0;  // the trace file did not keep up
  std::size_t late_log_lines = 0;       // log lines not written in time, or refused by the file
};

// Waits for the log's and the trace's queued lines until deadline. A log
// line not written is shown whole on standard error, so that nothing of it
// is lost; a trace that could not be written gets a warning (a JSON event, or
// a line on standard error). Returns what was lost so far.
OutputLosses settle_files(const ProductionLog& log, TraceFile& trace, Terminal& terminal,
                          OutputClock::time_point deadline);

// The losses as fields of a JSON "end" or "summary" event, those not 0.
JsonObject& with_losses(JsonObject& event, const OutputLosses& losses);

// The last of the output: the lines dropped told on standard error, then
// whatever is queued written, at most until deadline (a reader that does
// not read never holds up the end).
void finish_output(Terminal& terminal, const OutputLosses& losses, OutputClock::time_point deadline);

}  // namespace imgload
