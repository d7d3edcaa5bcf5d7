// The output files and streams on POSIX: the log appended with O_APPEND, one
// write per line; the trace; standard output and error written with write(2);
// every file opened without waiting for a reader and refused when it is no
// regular file (nor /dev/null); the host name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "imgload/cli/output_queue.h"
#include "imgload/cli/production_log.h"

namespace imgload {

namespace {

const char NULL_DEVICE[] = "/dev/null";

// What a file of this kind is, when it cannot hold a log or a trace; null
// for a regular file or the null device.
const char* unusable_kind(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return nullptr;
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO";
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (S_ISSOCK(st.st_mode)) return "it is a socket";
  struct stat null_device {};
  if (S_ISCHR(st.st_mode) && stat(NULL_DEVICE, &null_device) == 0 &&
      S_ISCHR(null_device.st_mode) && st.st_rdev == null_device.st_rdev) {
    return nullptr;
  }
  return "it is a device";
}

// Opens path to write with flags; -1 with the refusal. The kind is judged
// before opening (opening a device can act on it, a FIFO would wait for its
// reader) and again on what was opened, without waiting, in case the path
// changed in between.
int open_target(const std::string& path, int flags, const char* role, std::string* refusal) {
  struct stat st {};
  const char* kind = stat(path.c_str(), &st) == 0 ? unusable_kind(st) : nullptr;
  int fd = -1;
  if (kind == nullptr) {
    fd = open(path.c_str(), flags | O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
      *refusal = std::string("cannot open the ") + role + " file: " + path + ": " +
                 std::strerror(errno);
      return -1;
    }
    kind = fstat(fd, &st) == 0 ? unusable_kind(st) : "it cannot be examined";
  }
  if (kind != nullptr) {
    if (fd >= 0) close(fd);
    *refusal = "cannot use " + path + " as the " + role + ": " + kind;
    return -1;
  }
  // Writes wait for the file as usual: only the opening had to be quick.
  (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Writes text whole to fd, going on after a signal; false with the reason.
bool write_whole(int fd, const std::string& text, std::string* reason) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    *reason = std::strerror(n < 0 ? errno : EIO);
    return false;
  }
  return true;
}

class DescriptorSink : public OutputSink {
 public:
  DescriptorSink(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~DescriptorSink() override {
    if (owned_) close(fd_);
  }
  bool write(const std::string& text, std::string* reason) override {
    return write_whole(fd_, text, reason);
  }

 private:
  int fd_;
  bool owned_;
};

}  // namespace

std::unique_ptr<OutputSink> standard_sink(StandardStream stream) {
  return std::make_unique<DescriptorSink>(
      stream == StandardStream::OUTPUT_STREAM ? STDOUT_FILENO : STDERR_FILENO, false);
}

std::unique_ptr<OutputSink> open_output_file(const std::string& path, const char* role,
                                             std::string* refusal) {
  const int fd = open_target(path, O_CREAT | O_TRUNC, role, refusal);
  if (fd < 0) return nullptr;
  return std::make_unique<DescriptorSink>(fd, true);
}

bool check_log_target(const std::string& path, std::string* refusal) {
  const int fd = open_target(path, O_APPEND | O_CREAT, "log", refusal);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool append_to_log(const std::string& path, const std::string& text, std::string* reason) {
  // O_APPEND puts every write at the end as one step, so lines of several
  // processes on one log never overwrite or split each other.
  // One write, never continued: a second one could land after another's line.
  const int fd = open_target(path, O_APPEND | O_CREAT, "log", reason);
  if (fd < 0) return false;
  ssize_t n = 0;
  do {
    n = write(fd, text.data(), text.size());
  } while (n < 0 && errno == EINTR);
  const int write_error = n < 0 ? errno : 0;
  const bool closed = close(fd) == 0;
  const int error = write_error != 0 ? write_error : closed ? 0 : errno;
  if (error == 0 && static_cast<std::size_t>(n) == text.size()) return true;
  *reason = "cannot write the log file: " + path + ": " +
            (error != 0 ? std::strerror(error) : "written only in part");
  return false;
}

std::string host_name() {
  char name[256] = {};  // bytes: more than HOST_NAME_MAX (64 on Linux)
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace imgload
