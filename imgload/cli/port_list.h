// The serial ports of the command line on this platform: the device a
// --port word names, the default one, and the candidates --list-ports shows.
#pragma once

#include <string>
#include <vector>

namespace imgload {

struct PortCandidate {
  std::string path;
  std::string note;  // where a by-id name points, or the kind of device
};

std::vector<PortCandidate> list_ports();

// The port used when no --port is given: /dev/ttyS0 on Linux, COM1 on Windows.
extern const char DEFAULT_PORT_DEVICE[];

// The device a --port word names, as the platform's serial port opens it;
// false when the word names no port this platform can open.
bool port_device(const std::string& word, std::string* device);

}  // namespace imgload
