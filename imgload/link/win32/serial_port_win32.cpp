// The serial port on Windows: a COM port through the Win32 communications
// functions, opened exclusively, with fixed time-outs and DTR while open;
// closing and failing reads are bounded in time whatever the line does;
// unread input counted and purged.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "imgload/link/serial_port.h"
#include "platform/utf16.h"

namespace imgload {

namespace {

constexpr DWORD PORT_ACCESS = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD NO_SHARING = 0;
constexpr DWORD DRAIN_POLL_MS = 10;  // ms between looks at the output queue

// A one-byte read returns a byte that has arrived at once, otherwise 0 bytes
// after read_ms; a write gives up after its constant.
bool set_timeouts(HANDLE port, DWORD read_ms = PORT_READ_TIMEOUT_MS) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = read_ms;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = PORT_WRITE_TIMEOUT_MS;
  return SetCommTimeouts(port, &timeouts) != FALSE;
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

// The kind of a failed opening by its system error code. A port another
// program holds is refused for access or sharing.
zp3k::Status open_status(DWORD error) {
  using zp3k::Result;
  const int code = static_cast<int>(error);
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return {Result::NOT_FOUND, code};
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: return {Result::IN_USE, code};
    case ERROR_INVALID_FUNCTION: case ERROR_NOT_SUPPORTED: return {Result::WRONG_KIND, code};
    default: return {Result::FAILED, code};
  }
}

// One COM port, with the DCB and time-outs it had when it was opened.
// Closing gives the port back its line settings and time-outs as they were
// before the opening, with DTR left low.
class Win32SerialPort final : public SerialPort {
 public:
  ~Win32SerialPort() override { close(); }

  zp3k::Status open(const char* name, const LineSettings& settings) override;
  void close() override;
  bool is_open() const override { return port_ != INVALID_HANDLE_VALUE; }
  int write(const std::uint8_t* data, int count) override;
  int read(std::uint8_t* buffer, int count) override { return read_within(buffer, count, PORT_READ_TIMEOUT_MS); }
  int read_within(std::uint8_t* buffer, int count, unsigned wait_ms) override;
  int discard_input() override;
  void restore_settings() override;

 private:
  zp3k::Status refuse(HANDLE port, DWORD error);
  void put_back_settings();

  // The owning thread opens, uses and closes the port; another thread may
  // only put its settings back (restore_settings), under this lock, which
  // the handle's arrival and departure take as well.
  std::mutex handle_lock_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  DCB saved_dcb_{};                    // as the port had it before opening
  COMMTIMEOUTS saved_timeouts_{};      // likewise, when timeouts_saved_
  bool timeouts_saved_ = false;
};

zp3k::Status Win32SerialPort::open(const char* name, const LineSettings& settings) {
  if (is_open()) return refuse(INVALID_HANDLE_VALUE, ERROR_BUSY);
  // The name converted whole whatever its length (\\.\COM12, or a device
  // path deep in the name space): the system, not a buffer here, judges it.
  std::wstring wide_name;
  if (name == nullptr || !zp3k::widen_exact(name, &wide_name)) {
    return refuse(INVALID_HANDLE_VALUE, name == nullptr ? ERROR_INVALID_PARAMETER : GetLastError());
  }
  HANDLE port =
      CreateFileW(wide_name.c_str(), PORT_ACCESS, NO_SHARING, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return refuse(port, GetLastError());
  timeouts_saved_ = GetCommTimeouts(port, &saved_timeouts_) != FALSE;
  (void)set_timeouts(port);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return refuse(port, GetLastError());
  saved_dcb_ = dcb;
  // Only these four change; flow control, DTR/RTS control and the rest stay
  // as the port had them.
  dcb.BaudRate = settings.baud_rate;
  dcb.ByteSize = settings.data_bits;
  dcb.Parity = settings.parity == Parity::EVEN  ? EVENPARITY
               : settings.parity == Parity::ODD ? ODDPARITY
                                                : NOPARITY;
  dcb.StopBits = settings.stop_bits == StopBits::TWO            ? TWOSTOPBITS
                 : settings.stop_bits == StopBits::ONE_AND_HALF ? ONE5STOPBITS
                                                                : ONESTOPBIT;
  if (!SetCommState(port, &dcb)) return refuse(port, GetLastError());
  (void)EscapeCommFunction(port, SETDTR);
  {
    std::lock_guard<std::mutex> hold(handle_lock_);
    port_ = port;
  }
  return {};
}

// Ends a failed opening: the handle closed when there was one; the status
// (and the thread's last error) says why.
zp3k::Status Win32SerialPort::refuse(HANDLE port, DWORD error) {
  if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  SetLastError(error);
  return open_status(error);
}

void Win32SerialPort::close() {
  if (!is_open()) return;
  // The last request (such as the run request) must leave the wire before
  // DTR drops and the handle goes.
  drain_output(port_);
  (void)EscapeCommFunction(port_, CLRDTR);
  std::lock_guard<std::mutex> hold(handle_lock_);
  put_back_settings();
  (void)CloseHandle(port_);
  port_ = INVALID_HANDLE_VALUE;
}

// The DCB and time-outs saved at opening, with DTR left low; the caller
// holds handle_lock_ on an open port.
void Win32SerialPort::put_back_settings() {
  DCB restored = saved_dcb_;
  if (restored.fDtrControl == DTR_CONTROL_ENABLE) restored.fDtrControl = DTR_CONTROL_DISABLE;
  (void)SetCommState(port_, &restored);
  if (timeouts_saved_) (void)SetCommTimeouts(port_, &saved_timeouts_);
}

// From another thread while the owner may be inside a read or write: the
// system may hold the request until that one ends (at most the 3 s bound).
void Win32SerialPort::restore_settings() {
  std::lock_guard<std::mutex> hold(handle_lock_);
  if (port_ != INVALID_HANDLE_VALUE) put_back_settings();
}

int Win32SerialPort::write(const std::uint8_t* data, int count) {
  if (!is_open() || count < 0) return -1;
  DWORD written = 0;
  if (!WriteFile(port_, data, static_cast<DWORD>(count), &written, nullptr)) return -1;
  return static_cast<int>(written);
}

// A shorter wait is set for this read only; the time-outs go back to the
// link's after it.
int Win32SerialPort::read_within(std::uint8_t* buffer, int count, unsigned wait_ms) {
  if (!is_open() || count < 0) return -1;
  const bool shorter = wait_ms < PORT_READ_TIMEOUT_MS && set_timeouts(port_, wait_ms);
  DWORD got = 0;
  const bool read = ReadFile(port_, buffer, static_cast<DWORD>(count), &got, nullptr) != FALSE;
  if (shorter) (void)set_timeouts(port_);
  if (read) return static_cast<int>(got);
  // A line error stops the reads of a port set to abort on errors until it
  // is cleared; a pulled adapter fails at once, every time. The failure
  // lasts as long as a silent read would, so that no caller spins on it.
  DWORD errors = 0;
  (void)ClearCommError(port_, &errors, nullptr);
  Sleep(shorter ? wait_ms : PORT_READ_TIMEOUT_MS);
  return -1;
}

int Win32SerialPort::discard_input() {
  if (!is_open()) return -1;
  DWORD errors = 0;
  COMSTAT queues{};
  if (!ClearCommError(port_, &errors, &queues)) return -1;
  // Nothing waiting (every exchange that went well): no purge to pay for.
  if (queues.cbInQue == 0) return 0;
  if (!PurgeComm(port_, PURGE_RXCLEAR)) return -1;
  return static_cast<int>(queues.cbInQue);
}

}  // namespace

std::unique_ptr<SerialPort> make_system_port() { return std::make_unique<Win32SerialPort>(); }

}  // namespace imgload
