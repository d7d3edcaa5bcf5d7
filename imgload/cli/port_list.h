// The serial ports of the command line on this platform: the device a
// --port word names, the default one, the candidates --list-ports shows, and
// what to tell a user whose port did not open or did not answer.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "imgload/download/download_result.h"
#include "platform/status.h"

namespace imgload {

struct PortCandidate {
  std::string path;
  std::string note;  // where a by-id name points, the kind of device, or why it cannot be opened
};

// The candidates: on Linux those under dev (the by-id names, USB adapters
// and modems, fitted on-board UARTs), one that cannot be opened listed with
// the reason; on Windows the COM ports the system knows (dev unused).
std::vector<PortCandidate> list_ports(const std::string& dev = "/dev");
// Prints the candidates to out, or says on notes that there are none;
// returns the exit status of --list-ports (0).
int show_port_list(std::FILE* out, std::FILE* notes, const std::string& dev = "/dev");
// The Linux listing's note for a device that cannot be opened for error (errno).
std::string cannot_open_note(int error);

// The port used when no --port is given: /dev/ttyS0 on Linux, COM1 on Windows.
extern const char DEFAULT_PORT_DEVICE[];

// The device a --port word names, as the platform's serial port opens it;
// false when the word names no port this platform can open.
bool port_device(const std::string& word, std::string* device);

// What a user can do about a failure: what happened (naming the device or
// file) and a way out; either may be empty.
struct Advice {
  std::string detail;
  std::string hint;
};
// "DETAIL: HINT", or the part there is.
std::string advice_text(const Advice& advice);
// A device that did not open: its path, the system's reason (errno, or
// GetLastError on Windows) and, by the kind of failure, what to do;
// holder_pid names the process that has it.
Advice port_open_advice(const std::string& device, const zp3k::Status& why, long holder_pid);
// The end of one port's download: a port that did not open, or a run that
// timed out with nothing answering at all; empty for every other end.
Advice end_advice(const DownloadResult& result, const std::string& device, long holder_pid);

}  // namespace imgload
