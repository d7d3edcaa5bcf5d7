// The serial port on a POSIX tty device: reserved by a UUCP lock file for
// the port object's life, exclusive open with flock, raw termios line
// settings, DTR through the modem-control ioctls, reads and writes bounded
// with poll, the device's earlier settings kept by the port object while it
// is open and put back on closing (or from another thread when the process
// ends at once), unread input counted and flushed.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "imgload/link/posix/line_settings.h"
#include "platform/clock.h"
#include "imgload/link/posix/port_lock.h"
#include "imgload/link/serial_port.h"

namespace imgload {

namespace {

constexpr long DRAIN_POLL_MS = 10;  // ms between looks at the output queue

long long now_ms() { return static_cast<long long>(zp3k::now_ms()); }

// Waits for events on fd until deadline (ms, monotonic); >0 ready, 0 timed
// out, -1 failed. Signals do not shorten the wait.
int wait_for(int fd, short events, long long deadline) {
  for (;;) {
    const long long left = deadline - now_ms();
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    return 1;
  }
}

bool speed_constant(std::uint32_t baud_rate, speed_t* out) {
  switch (baud_rate) {
    case 1200: *out = B1200; return true;
    case 2400: *out = B2400; return true;
    case 4800: *out = B4800; return true;
    case 9600: *out = B9600; return true;
    case 19200: *out = B19200; return true;
    case 38400: *out = B38400; return true;
    case 57600: *out = B57600; return true;
    case 115200: *out = B115200; return true;
    default: return false;
  }
}

// The kind of a failed opening by its errno: a held lock comes as EBUSY,
// flock's refusal as EWOULDBLOCK (EAGAIN on Linux).
zp3k::Status open_status(int error) {
  using zp3k::Result;
  if (error == EWOULDBLOCK) return {Result::IN_USE, error};
  switch (error) {
    case ENOENT: case ENXIO: case ENODEV: return {Result::NOT_FOUND, error};
    case EACCES: case EPERM: return {Result::NO_ACCESS, error};
    case EBUSY: case EAGAIN: return {Result::IN_USE, error};
    case ENOTTY: case EINVAL: return {Result::WRONG_KIND, error};  // no tty, or settings it cannot take
    default: return {Result::FAILED, error};
  }
}

void set_dtr(int fd, bool raised) {
  int bits = TIOCM_DTR;
  // A pseudo-terminal has no modem lines (ENOTTY): the result is ignored.
  (void)ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits);
}

// Waits, bounded like a write, until the driver has sent what it holds.
void drain_output(int fd) {
  const long long deadline = now_ms() + PORT_WRITE_TIMEOUT_MS;
  int queued = 0;
  while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && now_ms() < deadline) {
    timespec pause{0, DRAIN_POLL_MS * 1000000L};
    nanosleep(&pause, nullptr);
  }
  if (queued == 0) tcdrain(fd);  // the last bytes in the hardware, quickly
}

}  // namespace

bool make_line_settings(const termios& base, const LineSettings& settings, termios* out) {
  speed_t speed = B0;
  if (!speed_constant(settings.baud_rate, &speed)) return false;
  termios t = base;
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  switch (settings.data_bits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return false;
  }
  switch (settings.parity) {
    case Parity::NONE: break;
    case Parity::ODD: t.c_cflag |= PARENB | PARODD; break;
    case Parity::EVEN: t.c_cflag |= PARENB; break;
    default: return false;                                 // no such parity
  }
  switch (settings.stop_bits) {
    case StopBits::ONE: break;
    case StopBits::TWO: t.c_cflag |= CSTOPB; break;
    default: return false;                                 // 1.5 stop bits
  }
  // Reads wait in poll, not in the driver.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  *out = t;
  return true;
}

bool line_settings_took_effect(const termios& asked, const termios& current) {
  constexpr tcflag_t raw_lflags = ICANON | ECHO | ECHONL | ISIG | IEXTEN;
  constexpr tcflag_t raw_iflags = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON;
  return cfgetispeed(&current) == cfgetispeed(&asked) &&
         cfgetospeed(&current) == cfgetospeed(&asked) &&
         (current.c_lflag & raw_lflags) == 0 && (current.c_iflag & raw_iflags) == 0 &&
         (current.c_oflag & OPOST) == 0 &&
         (current.c_cflag & CSTOPB) == (asked.c_cflag & CSTOPB);
}

namespace {

// One tty device, with the settings it had before this port changed them.
// The download thread that owns the port opens, closes, reads and writes;
// another thread may only call restore_settings(). The mutex keeps that
// call apart from an opening or closing, and after it no opening happens.
class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override { close(); }

  zp3k::Status open(const char* name, const LineSettings& settings) override;
  void close() override;
  bool is_open() const override { return fd_ >= 0; }
  int write(const std::uint8_t* data, int count) override;
  int read(std::uint8_t* buffer, int count) override { return read_within(buffer, count, PORT_READ_TIMEOUT_MS); }
  int read_within(std::uint8_t* buffer, int count, unsigned wait_ms) override;
  int discard_input() override;
  long holder_pid() const override { return holder_pid_; }
  void restore_settings() override;

 private:
  zp3k::Status open_locked(const char* name, const LineSettings& settings);
  zp3k::Status refuse(int fd, int error, const termios* previous);

  std::mutex mutex_;  // over opening, closing and restore_settings()
  bool ending_ = false;  // restore_settings() was called: no more openings
  int fd_ = -1;
  termios saved_{};  // the device's settings before opening, put back on closing
  long holder_pid_ = 0;
  PortLock lock_;  // taken at the first opening, kept until destruction
};

zp3k::Status PosixSerialPort::open(const char* name, const LineSettings& settings) {
  std::lock_guard<std::mutex> guard(mutex_);
  holder_pid_ = 0;
  if (fd_ >= 0) return refuse(-1, EBUSY, nullptr);
  if (name == nullptr) return refuse(-1, EINVAL, nullptr);
  // The process is ending at once: the line stays as restore_settings() left it.
  if (ending_) return refuse(-1, ECANCELED, nullptr);
  if (!lock_.acquire(name)) {
    holder_pid_ = lock_.holder();
    return refuse(-1, EBUSY, nullptr);
  }
  return open_locked(name, settings);
}

// Opens the reserved device and sets the line; called with the mutex held.
zp3k::Status PosixSerialPort::open_locked(const char* name, const LineSettings& settings) {
  const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return refuse(-1, errno, nullptr);
  termios previous{};
  termios asked{};
  termios current{};
  // flock keeps a second opener out (TIOCEXCL would not stop root).
  if (tcgetattr(fd, &previous) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return refuse(fd, errno, nullptr);
  }
  if (!make_line_settings(previous, settings, &asked)) return refuse(fd, EINVAL, nullptr);
  // A pseudo-terminal refuses parity with EINVAL yet applies the rest, so
  // the outcome is judged by what the driver now holds.
  const int set_error = tcsetattr(fd, TCSANOW, &asked) == 0 ? 0 : errno;
  if (tcgetattr(fd, &current) != 0) return refuse(fd, errno, &previous);
  if (!line_settings_took_effect(asked, current)) {
    return refuse(fd, set_error != 0 ? set_error : EINVAL, &previous);
  }
  fd_ = fd;
  saved_ = previous;
  set_dtr(fd_, true);
  return {};
}

// Ends a failed opening: the device's settings put back when they were
// changed, the descriptor closed; the status says why.
zp3k::Status PosixSerialPort::refuse(int fd, int error, const termios* previous) {
  if (previous != nullptr) (void)tcsetattr(fd, TCSANOW, previous);
  if (fd >= 0) ::close(fd);
  return open_status(error);
}

void PosixSerialPort::close() {
  if (fd_ < 0) return;
  // The last request (such as the run request) must leave the wire first.
  // Only this thread closes, so fd_ stays valid while it drains without the
  // mutex: restore_settings() is not held up by a slow line.
  drain_output(fd_);
  std::lock_guard<std::mutex> guard(mutex_);
  set_dtr(fd_, false);
  (void)tcsetattr(fd_, TCSANOW, &saved_);
  ::close(fd_);
  fd_ = -1;
}

// The device gets its earlier settings back and keeps them: the port stays
// open (the system closes it when the process ends), no later opening
// changes the line, and the reservation ends with the process.
void PosixSerialPort::restore_settings() {
  std::lock_guard<std::mutex> guard(mutex_);
  ending_ = true;
  if (fd_ >= 0) (void)tcsetattr(fd_, TCSANOW, &saved_);
  lock_.release();
}

int PosixSerialPort::write(const std::uint8_t* data, int count) {
  if (fd_ < 0 || count < 0) return -1;
  const long long deadline = now_ms() + PORT_WRITE_TIMEOUT_MS;
  int written = 0;
  while (written < count) {
    const ssize_t n = ::write(fd_, data + written, static_cast<size_t>(count - written));
    if (n > 0) {
      written += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return written > 0 ? written : -1;
    if (wait_for(fd_, POLLOUT, deadline) <= 0) break;  // the write time-out ran out
  }
  return written;
}

int PosixSerialPort::read_within(std::uint8_t* buffer, int count, unsigned wait_ms) {
  if (fd_ < 0 || count <= 0) return count == 0 ? 0 : -1;
  const long long deadline = now_ms() + wait_ms;
  for (;;) {
    const int ready = wait_for(fd_, POLLIN, deadline);
    if (ready == 0) return 0;  // a silent line
    if (ready > 0) {
      const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(count));
      if (n > 0) return static_cast<int>(n);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    }
    // A hang-up or a device error: it lasts as long as a silent read would,
    // so that callers polling under the countdown do not spin.
    zp3k::sleep_until(static_cast<double>(deadline));
    return -1;
  }
}

int PosixSerialPort::discard_input() {
  if (fd_ < 0) return -1;
  int pending = 0;
  if (ioctl(fd_, FIONREAD, &pending) != 0 || pending < 0) return -1;
  // Nothing waiting (every exchange that went well): no flush to pay for.
  if (pending == 0) return 0;
  if (tcflush(fd_, TCIFLUSH) != 0) return -1;
  return pending;
}

}  // namespace

std::unique_ptr<SerialPort> make_system_port() { return std::make_unique<PosixSerialPort>(); }

}  // namespace imgload
