// The simulated controller on a pseudo-terminal: the downloader's bytes
// gathered into requests, replies at the pace of the line, the line's
// openings and closings, and its settings put back between downloaders.
#pragma once

#include <csignal>
#include <string>

#include "board_fixture.h"
#include "line_watch.h"

namespace zp3ksim {

// The pseudo-terminal: the master we serve and the slave's name.
struct Pty {
  int master = -1;
  std::string slave;
};

// Opens a pseudo-terminal, its master non-blocking, its line reset; false
// with errno set when there is none.
bool open_pty(Pty* pty);

struct ServeLimits {
  int runs = 0;           // end after this many runs ended (0: no limit)
  double max_time_s = 0;  // end after this many seconds (0: no limit)
  bool paced = true;      // replies at the pace of the line
};

// Serves the line until *stop is set, a limit is reached, the device
// vanishes as asked or the last board has been served; true when it vanished.
bool serve(const Pty& pty, const ServeLimits& limits, BoardFixture& fixture, LineWatch& watch,
           const volatile std::sig_atomic_t* stop);

}  // namespace zp3ksim
