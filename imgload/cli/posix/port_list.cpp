// The serial devices of the Linux command line: COM1..COM4 as /dev/ttyS0..3,
// any other word as a device path; candidates are the stable by-id names
// first, then USB serial adapters and modems, then the fitted on-board UARTs;
// and the advice, by the kind of failure, for a device that does not open.
#include "imgload/cli/port_list.h"

#include "imgload/cli/advice.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace imgload {

namespace {

const char SYS_TTY[] = "/sys/class/tty/";  // the serial core's view of each tty

std::vector<std::string> entries(const std::string& dir, const char* prefix) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (std::strncmp(e->d_name, prefix, std::strlen(prefix)) == 0) names.push_back(e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// The note of a device listed without opening it (opening a USB adapter
// would raise its DTR): its kind, or why this user cannot open it.
std::string access_note(const std::string& path, const std::string& kind) {
  return access(path.c_str(), R_OK | W_OK) == 0 ? kind : cannot_open_note(errno);
}

// The UART type the serial core reports for a slot; PORT_UNKNOWN when none
// is fitted or the slot is not known there.
int sysfs_uart_type(const std::string& name) {
  std::ifstream in(SYS_TTY + name + "/type");
  int type = PORT_UNKNOWN;
  return in >> type ? type : PORT_UNKNOWN;
}

// An on-board UART slot is listed only when a port is fitted behind it; one
// this user cannot open is judged by the serial core's record instead.
bool uart_fitted(const std::string& path, const std::string& name, std::string* note) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *note = cannot_open_note(errno);
    return sysfs_uart_type(name) != PORT_UNKNOWN;
  }
  serial_struct info {};
  const bool fitted = ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
  close(fd);
  *note = "on-board UART";
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

std::string cannot_open_note(int error) {
  std::string note = std::string("cannot open: ") + std::strerror(error);
  if (error == EACCES || error == EPERM) note += " (dialout group)";
  if (error == EBUSY || error == EAGAIN) note += " (in use)";
  return note;
}

std::vector<PortCandidate> list_ports(const std::string& dev) {
  std::vector<PortCandidate> out;
  const std::string by_id = dev + "/serial/by-id/";
  for (const std::string& name : entries(by_id, "")) {
    const std::string path = by_id + name;
    char target[PATH_MAX];
    const char* resolved = realpath(path.c_str(), target);
    out.push_back({path, access_note(path, resolved != nullptr ? std::string("-> ") + resolved
                                                               : "by-id name")});
  }
  for (const std::string& name : entries(dev, "ttyUSB")) {
    out.push_back({dev + "/" + name, access_note(dev + "/" + name, "USB serial adapter")});
  }
  for (const std::string& name : entries(dev, "ttyACM")) {
    out.push_back({dev + "/" + name, access_note(dev + "/" + name, "USB modem (CDC ACM)")});
  }
  for (const std::string& name : entries(dev, "ttyS")) {
    std::string note;
    if (uart_fitted(dev + "/" + name, name, &note)) out.push_back({dev + "/" + name, note});
  }
  return out;
}

int show_port_list(std::FILE* out, std::FILE* notes, const std::string& dev) {
  const std::vector<PortCandidate> ports = list_ports(dev);
  for (const PortCandidate& p : ports) std::fprintf(out, "%s  %s\n", p.path.c_str(), p.note.c_str());
  if (ports.empty()) {
    std::fprintf(notes, "imgload: no serial devices found (none of %s/serial/by-id/*, %s/ttyUSB*,"
                        " %s/ttyACM*, nor a fitted %s/ttyS*)\n",
                 dev.c_str(), dev.c_str(), dev.c_str(), dev.c_str());
  }
  return 0;
}

Advice port_open_advice(const std::string& device, const zp3k::Status& why, long holder_pid) {
  Advice advice;
  const int error = why.system_error;
  advice.detail = device + (error != 0 ? std::string(": ") + std::strerror(error) : ": cannot open");
  switch (why.result) {
    case zp3k::Result::NO_ACCESS:
      advice.hint = "add your user to the dialout group (sudo usermod -aG dialout $USER), "
                    "then log in again";
      break;
    case zp3k::Result::NOT_FOUND: advice.hint = "see imgload --list-ports"; break;
    case zp3k::Result::WRONG_KIND: advice.hint = "not a serial device"; break;
    case zp3k::Result::IN_USE:
      advice.hint = holder_pid > 0 ? "in use by process " + std::to_string(holder_pid)
                                   : "in use by another program";
      break;
    default: break;
  }
  return advice;
}

}  // namespace imgload
