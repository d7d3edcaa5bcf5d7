// The production loop's steps, tallies and texts.
#include "imgload/cli/production_loop.h"

#include <cstdio>

#include "image/safe_text.h"

namespace imgload {

namespace {

constexpr double SECONDS_PER_HOUR = 3600;

// After a board has left (or before the first): its unit id first, if asked.
LoopPhase next_board(const LoopPlan& plan) {
  return plan.ask_unit_id ? LoopPhase::ASK_UNIT_ID : LoopPhase::AWAIT_BOARD;
}

std::string counts_text(const LoopTally& tally) {
  return "(passed " + std::to_string(tally.passed) + ", failed " + std::to_string(tally.failed) + ")";
}

JsonObject& with_counts(JsonObject& event, const LoopTally& tally) {
  return event.number("passed", tally.passed).number("failed", tally.failed);
}

}  // namespace

LoopPhase first_phase(const LoopPlan& plan) { return next_board(plan); }

LoopPhase next_phase(LoopPhase phase, const LoopEvent& event, const LoopPlan& plan) {
  if (event.kind == LoopEvent::STOPPED || event.kind == LoopEvent::INPUT_ENDED) return LoopPhase::ENDED;
  switch (phase) {
    case LoopPhase::ASK_UNIT_ID:
      return event.kind == LoopEvent::UNIT_ID_GIVEN ? LoopPhase::AWAIT_BOARD : phase;
    case LoopPhase::AWAIT_BOARD:
      return event.kind == LoopEvent::PROBED && event.presence == Presence::ANSWERED ? LoopPhase::FLASH
                                                                                    : phase;
    case LoopPhase::FLASH:
      if (event.kind != LoopEvent::FLASHED) return phase;
      return plan.count > 0 && event.boards >= plan.count ? LoopPhase::ENDED : LoopPhase::AWAIT_LEAVE;
    case LoopPhase::AWAIT_LEAVE:
      // Unanswered, gone, or a port that no longer opens (a COM port whose
      // adapter was pulled may refuse rather than be missing).
      return event.kind == LoopEvent::PROBED && event.presence != Presence::ANSWERED ? next_board(plan)
                                                                                      : phase;
    case LoopPhase::ENDED:
      break;
  }
  return LoopPhase::ENDED;
}

void LoopTally::add(int exit_status) {
  if (exit_status == 0) {
    ++passed;
    return;
  }
  if (failed++ == 0) first_failure = exit_status;
}

double boards_per_hour(int boards, double seconds) {
  return seconds > 0 ? boards * SECONDS_PER_HOUR / seconds : 0;
}

int loop_exit_status(const std::vector<LoopTally>& ports) {
  for (const LoopTally& t : ports) {
    if (t.failed > 0) return t.first_failure;
  }
  return 0;
}

std::string board_line(const BoardReport& board, const LoopTally& tally) {
  std::string unit = "unit " + std::to_string(board.unit);
  if (board.unit_id) unit += " (id " + zp3k::terminal_text(*board.unit_id) + ")";
  const std::string head = (board.outcome.exit_status == 0 ? "PASS  " : "FAIL  ") + board.port + "  " + unit;
  if (board.outcome.exit_status == 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", board.seconds);
    return head + "  " + seconds + "  " + counts_text(tally);
  }
  return head + "  " + one_line(board.outcome.text) + " [" + board.outcome.gloss + "]  " + counts_text(tally);
}

JsonObject board_event(const BoardReport& board, const LoopTally& tally) {
  JsonObject e;
  e.text("port", board.port).text("event", "board").number("unit", board.unit);
  if (board.unit_id) {
    e.text("unit_id", *board.unit_id);
  } else {
    e.null("unit_id");
  }
  e.text("result", board.outcome.exit_status == 0 ? "passed" : "failed").number("seconds", board.seconds, 1)
      .text("text", board.outcome.text).text("gloss", board.outcome.gloss);
  with_advice(e, board.advice).number("exit_status", board.outcome.exit_status);
  return with_counts(e, tally);
}

std::string waiting_words(const WaitingState& state) {
  if (state.presence == Presence::PORT_REFUSED) {
    return "waiting: the port does not open (" + state.refusal + ")";
  }
  if (state.phase == LoopPhase::AWAIT_LEAVE) return "waiting for the board to leave";
  if (state.presence == Presence::DEVICE_MISSING) return "waiting for a board (no device)";
  return "waiting for a board";
}

std::string waiting_line(const std::string& port, const WaitingState& state, const LoopTally& tally) {
  return port + "  " + waiting_words(state) + "  " + counts_text(tally);
}

JsonObject waiting_event(const std::string& port, const WaitingState& state, const LoopTally& tally) {
  const char* device = state.presence == Presence::DEVICE_MISSING ? "missing"
                       : state.presence == Presence::PORT_REFUSED ? "refused"
                                                                  : "present";
  JsonObject e;
  e.text("port", port).text("event", "waiting")
      .text("for", state.phase == LoopPhase::AWAIT_LEAVE ? "leave" : "board").text("device", device)
      .text("text", waiting_words(state));
  return with_counts(e, tally);
}

std::vector<std::string> summary_lines(const std::vector<LoopSummary>& ports) {
  std::size_t width = 4;
  for (const LoopSummary& p : ports) width = p.port.size() > width ? p.port.size() : width;
  const int w = static_cast<int>(width);
  char line[1024];
  std::snprintf(line, sizeof line, "%-*s  %6s  %6s  %8s  %11s", w, "port", "passed", "failed", "time",
                "boards/hour");
  std::vector<std::string> lines = {line};
  for (const LoopSummary& p : ports) {
    std::snprintf(line, sizeof line, "%-*s  %6d  %6d  %7.1fs  %11.1f", w, p.port.c_str(), p.tally.passed,
                  p.tally.failed, p.seconds, boards_per_hour(p.tally.boards(), p.seconds));
    lines.push_back(line);
  }
  return lines;
}

JsonObject loop_end_event(const LoopSummary& p) {
  JsonObject e;
  e.text("port", p.port).text("event", "loop_end");
  with_counts(e, p.tally).number("boards", p.tally.boards()).number("seconds", p.seconds, 1)
      .number("boards_per_hour", boards_per_hour(p.tally.boards(), p.seconds), 1)
      .number("exit_status", p.tally.first_failure);
  return e;
}

}  // namespace imgload
