// UUCP-style lock files for tty devices, as other serial programs on the
// same machine (terminal programs, modem tools) read and write them.
#include "imgload/link/posix/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace imgload {

namespace {

const char DEFAULT_LOCK_DIR[] = "/var/lock";
const char LOCK_DIR_VARIABLE[] = "ZP3K_LOCK_DIR";  // another folder, for tests
const char DEVICE_DIR[] = "/dev/";
constexpr int PID_TEXT_SIZE = 11;  // ten digits, right-aligned, and a newline (HDB)
constexpr mode_t LOCK_MODE = 0644;

std::string lock_dir() {
  const char* dir = std::getenv(LOCK_DIR_VARIABLE);
  return dir != nullptr && dir[0] != '\0' ? dir : DEFAULT_LOCK_DIR;
}

// The pid a lock file names; 0 when it cannot be read or is no pid.
long read_pid(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  char* end = nullptr;
  errno = 0;
  const long pid = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || (*end != '\n' && *end != '\0') || pid <= 0 || pid > INT_MAX) {
    return 0;
  }
  return pid;
}

// Whether the pid of a lock is a process that still runs (or one not ours
// to signal: it runs too).
bool alive(long pid) {
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

// Writes our pid to a temporary file in the folder and links it as path,
// so that a reader never sees a half-written lock. 1 linked, 0 the lock
// exists, -1 the folder cannot be used.
int link_lock(const std::string& dir, const std::string& path) {
  std::string temporary = dir + "/LTMP.XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) return -1;
  char text[32];  // a pid fits ten digits; the room keeps the format checker quiet
  const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
  const bool written = length == PID_TEXT_SIZE && fchmod(fd, LOCK_MODE) == 0 &&
                       ::write(fd, text, PID_TEXT_SIZE) == PID_TEXT_SIZE;
  const bool closed = ::close(fd) == 0;
  int result = -1;
  if (written && closed) result = ::link(temporary.c_str(), path.c_str()) == 0 ? 1
                                  : errno == EEXIST                         ? 0
                                                                            : -1;
  ::unlink(temporary.c_str());
  return result;
}

}  // namespace

std::string port_lock_path(const char* device) {
  char resolved[PATH_MAX];
  if (device == nullptr || realpath(device, resolved) == nullptr) return std::string();
  std::string name = resolved;
  const std::size_t prefix = std::strlen(DEVICE_DIR);
  name = name.compare(0, prefix, DEVICE_DIR) == 0 ? name.substr(prefix) : name.substr(1);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return lock_dir() + "/LCK.." + name;
}

bool PortLock::acquire(const char* device) {
  holder_ = 0;
  const std::string path = port_lock_path(device);
  if (!path_.empty() && path == path_) return true;  // held since an earlier opening
  release();
  if (path.empty()) return true;
  const std::string dir = lock_dir();
  // A second try after removing a stale lock. Two processes removing the
  // same stale lock at once may both believe they hold it; the exclusive
  // open of the device still keeps one of them out.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int linked = link_lock(dir, path);
    if (linked > 0) path_ = path;
    if (linked != 0) return true;
    const long pid = read_pid(path);
    if (alive(pid)) {
      holder_ = pid;  // our own pid too: another port object has the device
      return false;
    }
    ::unlink(path.c_str());  // a dead process's or an unreadable lock
  }
  return true;  // taken over by someone else each time: leave it to the open
}

void PortLock::release() {
  if (path_.empty()) return;
  if (read_pid(path_) == static_cast<long>(getpid())) ::unlink(path_.c_str());
  path_.clear();
}

}  // namespace imgload
