// The serial devices of the Linux command line: COM1..COM4 as /dev/ttyS0..3,
// any other word as a device path; candidates are the stable by-id names
// first, then USB serial adapters and modems, then the fitted on-board UARTs.
#include "imgload/cli/port_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace imgload {

namespace {

std::vector<std::string> entries(const char* dir, const char* prefix) {
  std::vector<std::string> names;
  DIR* d = opendir(dir);
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (std::strncmp(e->d_name, prefix, std::strlen(prefix)) == 0) names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// An on-board UART slot is listed only when a port is fitted behind it.
bool uart_fitted(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info {};
  const bool fitted = ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
  close(fd);
  return fitted;
}

}  // namespace

const char DEFAULT_PORT_DEVICE[] = "/dev/ttyS0";  // COM1

bool port_device(const std::string& word, std::string* device) {
  *device = word;
  for (int n = 1; n <= 4; ++n) {
    if (word == "COM" + std::to_string(n)) *device = "/dev/ttyS" + std::to_string(n - 1);
  }
  return true;
}

std::vector<PortCandidate> list_ports() {
  std::vector<PortCandidate> out;
  for (const std::string& name : entries("/dev/serial/by-id", "")) {
    const std::string path = "/dev/serial/by-id/" + name;
    char target[PATH_MAX];
    const char* resolved = realpath(path.c_str(), target);
    out.push_back({path, resolved != nullptr ? std::string("-> ") + resolved : "by-id name"});
  }
  for (const std::string& name : entries("/dev", "ttyUSB")) out.push_back({"/dev/" + name, "USB serial adapter"});
  for (const std::string& name : entries("/dev", "ttyACM")) out.push_back({"/dev/" + name, "USB modem (CDC ACM)"});
  for (const std::string& name : entries("/dev", "ttyS")) {
    const std::string path = "/dev/" + name;
    if (uart_fitted(path)) out.push_back({path, "on-board UART"});
  }
  return out;
}

}  // namespace imgload
