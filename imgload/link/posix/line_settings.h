// Termios line settings of the POSIX serial port, kept apart from the port
// itself so that the settings asked of the driver can be checked directly.
#pragma once

#include <termios.h>

#include <cstdint>

namespace imgload {

// base with raw mode, the speed, byte size, parity and stop bits (Win32 DCB
// values) applied; false when a value has no termios equivalent.
bool make_line_settings(const termios& base, std::uint32_t baud_rate, std::uint8_t byte_size,
                        std::uint8_t parity, std::uint8_t stop_bits, termios* out);

// Whether the driver's current settings carry the speed, raw mode and stop
// bits that were asked for (what a pseudo-terminal applies, unlike parity).
bool line_settings_took_effect(const termios& asked, const termios& current);

}  // namespace imgload
