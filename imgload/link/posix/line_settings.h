// Termios line settings of the POSIX serial port, kept apart from the port
// itself so that the settings asked of the driver can be checked directly.
#pragma once

#include <termios.h>

#include "imgload/link/serial_port.h"

namespace imgload {

// base with raw mode, the speed, data bits, parity and stop bits applied;
// false when a value has no termios equivalent.
bool make_line_settings(const termios& base, const LineSettings& settings, termios* out);

// Whether the driver's current settings carry the speed, raw mode and stop
// bits that were asked for (what a pseudo-terminal applies, unlike parity).
bool line_settings_took_effect(const termios& asked, const termios& current);

}  // namespace imgload
