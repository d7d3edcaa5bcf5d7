// Fault injection of the simulated controller: which answer to spoil, by
// request and occurrence, written [BOARD:]KIND@REQUEST[#N|#N-M|#*][,ARG].
#pragma once

#include <string>
#include <vector>

namespace zp3ksim {

enum class FaultKind {
  NAK,         // first byte NAK instead of ACK
  SILENT,      // no reply
  BAD_BCC,     // a wrong BCC
  LOWER,       // the BCC digits in lower case
  SPLIT,       // the reply in two halves, ARG ms apart (default 4000)
  SLOW,        // ARG ms between reply bytes (default 100)
  LONG,        // ARG filler bytes of reply data (default 600), BCC still right
  OTHER_MODE,  // "AB": report the mode that was not asked for
  MODEL,       // "AD": ARG (two characters, sent as given) as model information
  NOISE,       // ACK, then bytes without CR until the next request or the close
  VANISH,      // the device disappears: no reply, the line is gone
};

struct Fault {
  FaultKind kind;
  std::string request;  // AD AA AB EF FG FD FDEND AG RUN
  int first;            // occurrences first..last, 1-based
  int last;
  int number;           // ARG as a number (split, slow, long)
  std::string text;     // ARG as text (model)
  std::string given;    // the fault as typed, for the report
  int board = 0;        // 0: any board, occurrences over the simulator's life;
                        // K: board K only, occurrences counted on that board
};

// Parses one fault as given; on failure returns false with a reason.
bool parse_fault(const std::string& given, Fault* out, std::string* error);

// The fault for occurrence n of a request over the simulator's life, or
// null; faults bound to a board are left out.
const Fault* find_fault(const std::vector<Fault>& faults, const std::string& request, int n);

// The fault for a request that is occurrence n over the simulator's life
// and occurrence board_n on the given board, or null.
const Fault* find_fault(const std::vector<Fault>& faults, const std::string& request, int n,
                        int board, int board_n);

}  // namespace zp3ksim
