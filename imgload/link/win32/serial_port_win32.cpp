// The serial port on Windows: a COM port through the Win32 communications
// functions, opened exclusively, with fixed time-outs and DTR while open.
#include <windows.h>

#include "imgload/link/serial_port.h"

namespace imgload {

namespace {

constexpr DWORD PORT_ACCESS = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD NO_SHARING = 0;

HANDLE to_win32(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// A one-byte read returns a byte that has arrived at once, otherwise 0 bytes
// after the constant; a write gives up after its constant.
void set_timeouts(HANDLE port) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = PORT_READ_TIMEOUT_MS;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = PORT_WRITE_TIMEOUT_MS;
  (void)SetCommTimeouts(port, &timeouts);
}

}  // namespace

PortHandle open_port(const char* name, std::uint32_t baud_rate, std::uint8_t byte_size,
                     std::uint8_t parity, std::uint8_t stop_bits) {
  if (name == nullptr) return INVALID_PORT;
  HANDLE port = CreateFileA(name, PORT_ACCESS, NO_SHARING, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return INVALID_PORT;
  set_timeouts(port);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) {
    CloseHandle(port);
    return INVALID_PORT;
  }
  // Only these four change; flow control, DTR/RTS control and the rest stay
  // as the port had them.
  dcb.BaudRate = baud_rate;
  dcb.ByteSize = byte_size;
  dcb.Parity = parity;
  dcb.StopBits = stop_bits;
  if (!SetCommState(port, &dcb)) {
    CloseHandle(port);
    return INVALID_PORT;
  }
  (void)EscapeCommFunction(port, SETDTR);
  return reinterpret_cast<PortHandle>(port);
}

void close_port(PortHandle handle) {
  if (handle == INVALID_PORT) return;
  HANDLE port = to_win32(handle);
  // The last request (such as the run request) must leave the wire before
  // DTR drops and the handle goes.
  (void)FlushFileBuffers(port);
  (void)EscapeCommFunction(port, CLRDTR);
  (void)CloseHandle(port);
}

int write_port(PortHandle handle, const std::uint8_t* data, int count) {
  if (handle == INVALID_PORT || count < 0) return -1;
  DWORD written = 0;
  if (!WriteFile(to_win32(handle), data, static_cast<DWORD>(count), &written, nullptr)) return -1;
  return static_cast<int>(written);
}

int read_port(PortHandle handle, std::uint8_t* buffer, int count) {
  if (handle == INVALID_PORT || count < 0) return -1;
  DWORD got = 0;
  if (!ReadFile(to_win32(handle), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
  return static_cast<int>(got);
}

}  // namespace imgload
