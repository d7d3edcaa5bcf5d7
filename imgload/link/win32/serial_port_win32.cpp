// The serial port on Windows: a COM port through the Win32 communications
// functions, opened exclusively, with fixed time-outs and DTR while open;
// closing and failing reads are bounded in time whatever the line does;
// unread input counted and purged.
#include <windows.h>

#include <string>

#include "imgload/link/serial_port.h"

namespace imgload {

namespace {

constexpr DWORD PORT_ACCESS = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD NO_SHARING = 0;
constexpr DWORD DRAIN_POLL_MS = 10;  // ms between looks at the output queue

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

// Waits, bounded like a write, until the driver has sent what it holds.
// FlushFileBuffers has no bound: on a stalled line (flow control left on by
// another program, an adapter that stopped draining) it would never return.
// What has not left by then is dropped so that the close does not wait.
void drain_output(HANDLE port) {
  const ULONGLONG deadline = GetTickCount64() + PORT_WRITE_TIMEOUT_MS;
  for (;;) {
    DWORD errors = 0;
    COMSTAT queues{};
    if (!ClearCommError(port, &errors, &queues) || queues.cbOutQue == 0) return;
    if (GetTickCount64() >= deadline) break;
    Sleep(DRAIN_POLL_MS);
  }
  (void)PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
}

}  // namespace

PortHandle open_port(const char* name, std::uint32_t baud_rate, std::uint8_t byte_size,
                     std::uint8_t parity, std::uint8_t stop_bits) {
  if (name == nullptr) return INVALID_PORT;
  // The name is UTF-8 like every text of the core; the system takes UTF-16.
  // It is converted whole, whatever its length (\\.\COM12, or a device
  // path deep in the name space): the system, not a buffer here, judges it.
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (units == 0) return INVALID_PORT;
  std::wstring wide_name(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide_name.data(), units) == 0) {
    return INVALID_PORT;
  }
  HANDLE port =
      CreateFileW(wide_name.c_str(), PORT_ACCESS, NO_SHARING, nullptr, OPEN_EXISTING, 0, nullptr);
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
  drain_output(port);
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
  HANDLE port = to_win32(handle);
  DWORD got = 0;
  if (ReadFile(port, buffer, static_cast<DWORD>(count), &got, nullptr)) return static_cast<int>(got);
  // A line error stops the reads of a port set to abort on errors until it
  // is cleared; a pulled adapter fails at once, every time. The failure
  // lasts as long as a silent read would, so that no caller spins on it.
  DWORD errors = 0;
  (void)ClearCommError(port, &errors, nullptr);
  Sleep(PORT_READ_TIMEOUT_MS);
  return -1;
}

int discard_input(PortHandle handle) {
  if (handle == INVALID_PORT) return -1;
  HANDLE port = to_win32(handle);
  DWORD errors = 0;
  COMSTAT queues{};
  if (!ClearCommError(port, &errors, &queues)) return -1;
  // Nothing waiting (every exchange that went well): no purge to pay for.
  if (queues.cbInQue == 0) return 0;
  if (!PurgeComm(port, PURGE_RXCLEAR)) return -1;
  return static_cast<int>(queues.cbInQue);
}

}  // namespace imgload
