// The serial ports of the command line on this platform: the device a
// --port word names, the default one, the candidates --list-ports shows.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

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

}  // namespace imgload
