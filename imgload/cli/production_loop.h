// The production loop of the command line (--repeat), in its pure parts: the
// step from phase to phase of one port's loop (ask for the unit id, wait for
// a board, flash it, wait for it to leave), each port's tally of boards, the
// operator's board line and JSON event, a waiting port's status, the
// summary's arithmetic and the loop's exit status.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "imgload/cli/outcome.h"
#include "imgload/cli/advice.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/link/probe.h"

namespace imgload {

// A waiting port asks for the controller this often; each ask waits this
// long for the reply (some 25 ms of "AD" and its reply at 9600 bit/s).
constexpr std::chrono::milliseconds PROBE_INTERVAL{500};
constexpr unsigned PROBE_WAIT_MS = 250;  // ms

enum class LoopPhase { ASK_UNIT_ID, AWAIT_BOARD, FLASH, AWAIT_LEAVE, ENDED };

struct LoopPlan {
  bool ask_unit_id = false;
  int count = 0;  // boards per port; 0: no end but a stop
};

// What ended a phase's pass.
struct LoopEvent {
  enum Kind { PROBED, UNIT_ID_GIVEN, INPUT_ENDED, FLASHED, STOPPED } kind;
  Presence presence = Presence::SILENT;  // PROBED: what the model request found
  int boards = 0;                        // FLASHED: the port's boards so far
};

LoopPhase first_phase(const LoopPlan& plan);
// The loop's state step. A board comes when the model request is answered;
// it has left once the request goes unanswered, the device is gone or the
// port no longer opens. A stop or the end of the unit ids ends the loop; so
// does the plan's last board, without waiting for it to leave.
LoopPhase next_phase(LoopPhase phase, const LoopEvent& event, const LoopPlan& plan);

// A port's boards so far.
struct LoopTally {
  int passed = 0;
  int failed = 0;
  int first_failure = 0;  // the exit status of the first board that failed; 0 while none did
  void add(int exit_status);
  int boards() const { return passed + failed; }
};

// Boards over the loop's time, per hour; 0 for no time.
double boards_per_hour(int boards, double seconds);
// 0 when every board passed; otherwise the status of the first board that
// failed on the first port (in the order given) that had one.
int loop_exit_status(const std::vector<LoopTally>& ports);

// One board as the operator is told of it.
struct BoardReport {
  std::string port;
  int unit = 0;
  std::optional<std::string> unit_id;  // none without --ask-unit-id
  Outcome outcome;  // the run's
  double seconds = 0;
  Advice advice;  // a failure's detail and hint, those there are
};

// "PASS  COM3  unit 17  12.4 s  (passed 17, failed 2)", or "FAIL  COM3  unit
// 18  TEXT [GLOSS]  (passed 17, failed 3)"; tally counts the board already.
// A unit id follows the unit as "(id ...)", escaped for the terminal.
std::string board_line(const BoardReport& board, const LoopTally& tally);
// The "board" event: port, unit, unit_id, result, seconds, text, gloss, the
// advice, exit_status and the counts so far.
JsonObject board_event(const BoardReport& board, const LoopTally& tally);

// What a waiting port shows: its phase and what its last probe found.
struct WaitingState {
  LoopPhase phase = LoopPhase::AWAIT_BOARD;
  Presence presence = Presence::SILENT;
  std::string refusal;  // PORT_REFUSED: why the port does not open
};
// "waiting for a board", "waiting for a board (no device)", "waiting for
// the board to leave", or "waiting: the port does not open (...)".
std::string waiting_words(const WaitingState& state);
// The port's status line: "COM3  WORDS  (passed 16, failed 2)".
std::string waiting_line(const std::string& port, const WaitingState& state, const LoopTally& tally);
// The "waiting" event of the same.
JsonObject waiting_event(const std::string& port, const WaitingState& state, const LoopTally& tally);

// Each port's figures at the loop's end.
struct LoopSummary {
  std::string port;
  LoopTally tally;
  double seconds = 0;  // from the port's loop start to its end
};
// The closing table's lines: a heading, then one line per port.
std::vector<std::string> summary_lines(const std::vector<LoopSummary>& ports);
// Each port's "loop_end" event.
JsonObject loop_end_event(const LoopSummary& port);

}  // namespace imgload
