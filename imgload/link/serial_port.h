// The serial port seam: one COM port, opened exclusively with fixed line
// settings, DTR raised while open, writes bounded by about 3 s and one-byte
// reads that return at once or after about 3 s, and a discard of what was
// received and not read. Win32 and POSIX files (and the tests' fake) define
// these same functions.
#pragma once

#include <cstdint>

namespace imgload {

using PortHandle = std::intptr_t;
constexpr PortHandle INVALID_PORT = -1;

// Win32 DCB values that every caller passes.
constexpr std::uint8_t PORT_BYTE_SIZE = 8;
constexpr std::uint8_t PORT_PARITY_EVEN = 2;   // EVENPARITY
constexpr std::uint8_t PORT_ONE_STOP_BIT = 0;  // ONESTOPBIT
constexpr std::uint32_t PORT_BASE_SPEED = 9600;        // bit/s
constexpr unsigned PORT_READ_TIMEOUT_MS = 3000;        // ms
constexpr unsigned PORT_WRITE_TIMEOUT_MS = 3000;       // ms

// The open handle, or INVALID_PORT on any failure (no handle left open).
PortHandle open_port(const char* name, std::uint32_t baud_rate, std::uint8_t byte_size,
                     std::uint8_t parity, std::uint8_t stop_bits);
// Drains pending output, drops DTR, closes; nothing happens for INVALID_PORT.
void close_port(PortHandle handle);
// Bytes written, or -1 when the write failed.
int write_port(PortHandle handle, const std::uint8_t* data, int count);
// Bytes read (0 when the wait ran out), or -1 when the read failed.
int read_port(PortHandle handle, std::uint8_t* buffer, int count);
// Drops the bytes received and not yet read; returns how many there were,
// or -1 when they could not be counted or dropped.
int discard_input(PortHandle handle);

}  // namespace imgload
