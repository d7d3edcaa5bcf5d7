// The Win32 serial port run under Wine against a pseudo-terminal linked as
// COM1, with port_peer.py on the other side: settings, write, read, the
// silent-read bound, a request written just before closing, exclusive
// opening and handles released on failure. Exit status: number of failures.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "imgload/link/serial_port.h"

namespace {

using imgload::LineSettings;
using imgload::Parity;
using imgload::SerialPort;
using imgload::StopBits;

constexpr DWORD REOPEN_PAUSE_MS = 1000;  // ms, as between closing and reopening in a download

int failures = 0;

void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  std::fflush(stdout);
  if (!ok) ++failures;
}

void send(SerialPort& port, const std::string& text) {
  const int n = port.write(reinterpret_cast<const std::uint8_t*>(text.data()),
                           static_cast<int>(text.size()));
  if (n != static_cast<int>(text.size())) {
    std::printf("write gave %d, error %lu\n", n, GetLastError());
  }
  check(n == static_cast<int>(text.size()), ("write " + text.substr(0, text.size() - 1)).c_str());
}

// Reads one byte per call up to CR; gives up after a few silent reads.
std::string receive_line(SerialPort& port) {
  std::string line;
  for (int silent = 0; silent < 4;) {
    std::uint8_t byte = 0;
    const int n = port.read(&byte, 1);
    if (n != 1) {
      ++silent;
      continue;
    }
    line += static_cast<char>(byte);
    if (byte == '\r') break;
  }
  return line;
}

// Opens COM1 with the given speed and parity and has the peer confirm what
// the line now carries.
bool open_checked(SerialPort& port, std::uint32_t speed, Parity parity, const char* parity_word) {
  const zp3k::Status opened =
      port.open("COM1", {speed, imgload::PORT_DATA_BITS, parity, imgload::PORT_STOP_BITS});
  char what[64];
  std::snprintf(what, sizeof what, "open COM1 at %u %s", static_cast<unsigned>(speed), parity_word);
  if (!opened.ok()) std::printf("open error %d\n", opened.system_error);
  check(opened.ok(), what);
  if (!opened.ok()) return false;
  char request[64];
  std::snprintf(request, sizeof request, "CHECK %u %s\r", static_cast<unsigned>(speed), parity_word);
  send(port, request);
  const std::string answer = receive_line(port);
  std::snprintf(what, sizeof what, "peer sees %u %s (answer %s)", static_cast<unsigned>(speed),
                parity_word, answer.substr(0, answer.size() > 0 ? answer.size() - 1 : 0).c_str());
  check(answer == "\x06OK\r", what);
  return true;
}

void check_exchange_and_bounds() {
  const std::unique_ptr<SerialPort> owned = imgload::make_system_port();
  SerialPort& port = *owned;
  if (!open_checked(port, 19200, imgload::PORT_PARITY, "EVEN")) return;

  // Bytes that the peer sends are read one by one, raw.
  send(port, "ECHO\r");
  const std::string echoed = receive_line(port);
  check(echoed == std::string("\x06\x0A\x00\xFF\x7F echo\r", 11), "bytes from the peer read raw");

  // Bytes that arrived and were not read are counted and dropped: the
  // silent read below finds nothing of them.
  send(port, "ECHO\r");
  Sleep(REOPEN_PAUSE_MS);
  check(port.discard_input() == 11, "unread bytes counted and dropped");

  // A silent line: 0 bytes, neither at once nor never (generous bounds).
  std::uint8_t byte = 0;
  const ULONGLONG start = GetTickCount64();
  const int n = port.read(&byte, 1);
  const ULONGLONG waited = GetTickCount64() - start;
  std::printf("silent read waited %llu ms\n", waited);
  check(n == 0, "silent read returns 0 bytes");
  check(waited >= 1000 && waited <= 20000, "silent read returns after about 3 s");

  // The run request written right before closing still leaves the wire.
  send(port, "\x05" "00FFAA0104\r");
  port.close();

  // Reopenings after a pause, as a download makes them; the peer puts the
  // line back to cooked 1200 bit/s on each close (a pseudo-terminal refuses
  // a change of parity alone), so the same speed opens again too.
  const std::uint32_t speeds[] = {19200, 115200, 9600, 57600};
  for (std::uint32_t speed : speeds) {
    Sleep(REOPEN_PAUSE_MS);
    const bool odd = speed == 9600;
    open_checked(port, speed, odd ? Parity::ODD : imgload::PORT_PARITY, odd ? "ODD" : "EVEN");
    if (speed != 57600) port.close();
  }

  // Wine grants a second opening of a device despite share mode 0;
  // reported, not judged (see the regular-file check below).
  // (Odd parity at another speed, so that only the exclusion could refuse.)
  const std::unique_ptr<SerialPort> second = imgload::make_system_port();
  const zp3k::Status second_status = second->open("COM1", {38400, 8, Parity::ODD, StopBits::ONE});
  std::printf("info: a second opening of COM1 under Wine %s (error %d)\n",
              second_status.ok() ? "was granted" : "was refused", second_status.system_error);
  second->close();
  // What a second Ctrl-C does: the settings saved at this opening (the
  // peer's cooked 1200 bit/s) put back while the port stays open.
  port.restore_settings();
  send(port, "CHECK 1200 EVEN\r");
  check(receive_line(port) == "\x06OK\r", "settings put back without closing");
  send(port, "DONE\r");
  port.close();
  port.close();  // closed already: no effect
}

// A regular file stands in for a port whose GetCommState fails, and shows
// the share mode, which Wine enforces for files.
void check_exclusive_and_released(const char* file_path) {
  const std::unique_ptr<SerialPort> port = imgload::make_system_port();
  const LineSettings settings = imgload::link_settings(9600);
  check(port->open("COM9", settings).result == zp3k::Result::NOT_FOUND, "no COM9");
  check(!port->open(file_path, settings).ok(), "a file that is no port is refused");

  // The refused opening released its handle: a share-nothing opening works.
  HANDLE alone = CreateFileA(file_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
  check(alone != INVALID_HANDLE_VALUE, "the file is free again after the refusal");
  if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);

  // Held by someone who shares everything: only a share-nothing opening
  // fails with a sharing violation before it gets to GetCommState.
  HANDLE holder = CreateFileA(file_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  check(holder != INVALID_HANDLE_VALUE, "holder opens the file");
  const zp3k::Status held = port->open(file_path, settings);
  check(held.result == zp3k::Result::IN_USE && held.system_error == ERROR_SHARING_VIOLATION,
        "held file is refused for sharing (in use): the port opens share-nothing");
  if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: wine_port_check FILE_PATH\n");
    return 2;
  }
  check_exchange_and_bounds();
  check_exclusive_and_released(argv[1]);
  std::printf("%d failure(s)\n", failures);
  return failures;
}
