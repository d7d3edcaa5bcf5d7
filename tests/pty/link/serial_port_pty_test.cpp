// The POSIX serial port over a real pseudo-terminal: line settings seen from
// the other side, bounded reads and writes, exclusive opening and the lock
// file, descriptors left open on failure, the settings put back on closing
// or from another thread, and unread input dropped.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "imgload/link/posix/line_settings.h"
#include "imgload/link/posix/port_lock.h"
#include "imgload/link/serial_port.h"

namespace imgload {
namespace {

// The lock files go to a folder of this test run's own.
std::string& lock_dir() {
  static std::string dir;
  return dir;
}

class LockFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    char dir[] = "/tmp/ptylock-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    lock_dir() = dir;
    setenv("ZP3K_LOCK_DIR", dir, 1);
  }
  void TearDown() override { EXPECT_EQ(rmdir(lock_dir().c_str()), 0) << "a lock file was left"; }
};
::testing::Environment* const lock_folder = ::testing::AddGlobalTestEnvironment(new LockFolder);

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  if (!in) return "(none)";
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A lock file's text for pid (HDB: ten digits right-aligned, a newline).
std::string hdb_pid(long pid) {
  char text[32];
  std::snprintf(text, sizeof text, "%10ld\n", pid);
  return text;
}

// A lock file as another program would leave it.
void write_lock(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// Open descriptors of this process.
int open_descriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

// One pseudo-terminal: the master side stays here, the slave is the device.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      const char* name = ptsname(master_);
      if (name != nullptr) slave_ = name;
    }
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  const char* slave() const { return slave_.c_str(); }
  termios line() const {
    termios t{};
    tcgetattr(master_, &t);
    return t;
  }
  // Puts the line into the given settings through a descriptor of its own.
  bool set_line(const termios& t) const {
    const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return false;
    const bool ok = tcsetattr(fd, TCSANOW, &t) == 0;
    close(fd);
    return ok;
  }
  // Reads whatever arrives within timeout_ms (ms).
  std::string drain(int timeout_ms) const {
    std::string got;
    char buf[4096];
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, timeout_ms) > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
      timeout_ms = 50;
    }
    return got;
  }
  void send(const std::string& s) const {
    ASSERT_EQ(write(master_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// Cooked, slow settings unlike anything the port asks for.
termios cooked_1200(const Pty& pty) {
  termios t = pty.line();
  t.c_lflag |= ICANON | ECHO;
  t.c_cflag |= CSTOPB;
  cfsetispeed(&t, B1200);
  cfsetospeed(&t, B1200);
  return t;
}

// A system port opened 8E1 at speed, or null when the opening failed.
std::unique_ptr<SerialPort> open_even(const char* name, std::uint32_t speed) {
  std::unique_ptr<SerialPort> port = make_system_port();
  if (!port->open(name, link_settings(speed)).ok()) return nullptr;
  return port;
}

using zp3k::Result;
// How an opening ended, as gtest compares and prints it: the kind, the errno.
std::pair<int, int> ended(const zp3k::Status& status) {
  return {static_cast<int>(status.result), status.system_error};
}

TEST(LineSettings, EightDataBitsEvenParityOneStopBitRaw) {
  termios base{};
  base.c_lflag = ICANON | ECHO | ISIG;
  base.c_iflag = ICRNL | IXON;
  base.c_oflag = OPOST;
  base.c_cflag = CS7 | CSTOPB | PARODD | CRTSCTS;
  termios t{};
  ASSERT_TRUE(make_line_settings(base, link_settings(115200), &t));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & PARODD);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));

  ASSERT_TRUE(make_line_settings(base, {9600, 8, Parity::ODD, StopBits::TWO}, &t));
  EXPECT_TRUE(t.c_cflag & PARODD);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(make_line_settings(base, link_settings(12345), &t));
  EXPECT_FALSE(make_line_settings(base, {9600, 9, Parity::EVEN, StopBits::ONE}, &t));
  EXPECT_FALSE(make_line_settings(base, {9600, 8, static_cast<Parity>(3), StopBits::ONE}, &t));
  EXPECT_FALSE(make_line_settings(base, {9600, 8, Parity::EVEN, StopBits::ONE_AND_HALF}, &t));
}

TEST(PtyPort, TheOtherSideSeesTheSpeedRawModeAndOneStopBit) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::uint32_t speeds[] = {9600, 19200, 38400, 57600, 115200};
  const speed_t constants[] = {B9600, B19200, B38400, B57600, B115200};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(pty.set_line(cooked_1200(pty)));
    const std::unique_ptr<SerialPort> port = open_even(pty.slave(), speeds[i]);
    ASSERT_TRUE(port) << speeds[i];
    const termios seen = pty.line();
    EXPECT_EQ(cfgetospeed(&seen), constants[i]);
    EXPECT_EQ(cfgetispeed(&seen), constants[i]);
    EXPECT_FALSE(seen.c_cflag & CSTOPB);
    EXPECT_FALSE(seen.c_cflag & PARODD);
    EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(seen.c_oflag & OPOST, 0u);
    port->close();
  }
  // Odd parity is visible on a pseudo-terminal, so the parity argument is
  // seen to reach the driver.
  const std::unique_ptr<SerialPort> odd = make_system_port();
  ASSERT_TRUE(odd->open(pty.slave(), {9600, 8, Parity::ODD, StopBits::ONE}).ok());
  EXPECT_TRUE(pty.line().c_cflag & PARODD);
  odd->close();
}

TEST(PtyPort, OpeningAtTheSpeedTheLineAlreadyHasSucceeds) {
  // Only parity differs then, which a pseudo-terminal refuses with EINVAL
  // although it applies the rest.
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::unique_ptr<SerialPort> port = open_even(pty.slave(), 9600);
  ASSERT_TRUE(port);
  termios raw_9600 = pty.line();
  port->close();
  ASSERT_TRUE(pty.set_line(raw_9600));
  EXPECT_TRUE(port->open(pty.slave(), link_settings(9600)).ok());
  port->close();
}

TEST(PtyPort, WritesReachTheOtherSideAndArrivedBytesAreReadAtOnce) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::unique_ptr<SerialPort> port = open_even(pty.slave(), 115200);
  ASSERT_TRUE(port);
  std::string frame = "\x05" "00FFAD00\r";
  frame += std::string("\x00\x0D\xFF\x11\x13", 5);  // raw bytes, no translation
  EXPECT_EQ(port->write(reinterpret_cast<const std::uint8_t*>(frame.data()),
                        static_cast<int>(frame.size())),
            static_cast<int>(frame.size()));
  EXPECT_EQ(pty.drain(2000), frame);

  pty.send(std::string("\x06\r\n\x00", 4));
  std::string got;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t byte = 0;
    ASSERT_EQ(port->read(&byte, 1), 1) << i;
    got += static_cast<char>(byte);
  }
  EXPECT_EQ(got, std::string("\x06\r\n\x00", 4));

  // Bytes nobody read are counted and dropped; what comes after is read.
  EXPECT_EQ(port->discard_input(), 0);
  pty.send("D3000\r");
  pollfd arrived{open(pty.slave(), O_RDWR | O_NOCTTY), POLLIN, 0};  // the same line's input
  const int ready = poll(&arrived, 1, 2000);
  close(arrived.fd);
  ASSERT_EQ(ready, 1);
  EXPECT_EQ(port->discard_input(), 6);
  pty.send("\x06");
  std::uint8_t byte = 0;
  EXPECT_EQ(port->read(&byte, 1), 1);
  EXPECT_EQ(byte, 0x06);
  port->close();
  EXPECT_EQ(port->discard_input(), -1);
}

TEST(PtyPort, SilentReadReturnsNothingNeitherAtOnceNorNever) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::unique_ptr<SerialPort> port = open_even(pty.slave(), 9600);
  ASSERT_TRUE(port);
  std::uint8_t byte = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->read(&byte, 1), 0);
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  // Generous bounds around the 3000 ms read time-out; not a measurement.
  EXPECT_GE(waited, 1000);
  EXPECT_LE(waited, 20000);
  port->close();
}

TEST(PtyPort, AHungUpLineFailsAfterTheReadBoundNotAtOnce) {
  std::unique_ptr<Pty> pty(new Pty);
  ASSERT_TRUE(pty->ok());
  const std::unique_ptr<SerialPort> port = open_even(pty->slave(), 9600);
  ASSERT_TRUE(port);
  pty.reset();  // the far end goes away
  std::uint8_t byte = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->read(&byte, 1), -1);
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  // Like a silent read, so that a reader polling under the countdown does
  // not spin; generous bounds, not a measurement.
  EXPECT_GE(waited, 1000);
  EXPECT_LE(waited, 20000);
  port->close();
}

TEST(PtyPort, WriteIsBoundedWhenNobodyReads) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::unique_ptr<SerialPort> port = open_even(pty.slave(), 9600);
  ASSERT_TRUE(port);
  std::vector<std::uint8_t> lots(4 << 20, 0x55);  // far more than a pty holds
  const int written = port->write(lots.data(), static_cast<int>(lots.size()));
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int>(lots.size()));
  port->close();
}

TEST(PtyPort, SecondOpeningOfTheSameDeviceFails) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  std::unique_ptr<SerialPort> first = open_even(pty.slave(), 9600);
  ASSERT_TRUE(first);
  const int before = open_descriptors();
  // At another speed, so that only the exclusion can refuse it; the open
  // port itself refuses a second opening too. The lock names this process.
  std::unique_ptr<SerialPort> second = make_system_port();
  EXPECT_EQ(ended(second->open(pty.slave(), link_settings(115200))), ended({Result::IN_USE, EBUSY}));
  EXPECT_EQ(second->holder_pid(), static_cast<long>(getpid()));
  EXPECT_FALSE(open_even(pty.slave(), 9600));
  EXPECT_EQ(ended(first->open(pty.slave(), link_settings(115200))), ended({Result::IN_USE, EBUSY}));
  EXPECT_TRUE(first->is_open());
  const termios kept = pty.line();
  EXPECT_EQ(cfgetospeed(&kept), static_cast<speed_t>(B9600));
  EXPECT_EQ(open_descriptors(), before);
  first->close();
  // The lock outlives the closing (a speed change reopens the port)...
  EXPECT_FALSE(second->open(pty.slave(), link_settings(19200)).ok());
  first.reset();
  // ... and ends with the port object: the next one opens it.
  EXPECT_TRUE(second->open(pty.slave(), link_settings(19200)).ok());
  EXPECT_EQ(second->holder_pid(), 0);
  second->close();
  // Without the lock (no lock folder) the exclusive open still refuses.
  setenv("ZP3K_LOCK_DIR", "/nonexistent/locks", 1);
  std::unique_ptr<SerialPort> unlocked = make_system_port();
  EXPECT_TRUE(second->open(pty.slave(), link_settings(19200)).ok());
  EXPECT_EQ(ended(unlocked->open(pty.slave(), link_settings(19200))), ended({Result::IN_USE, EWOULDBLOCK}));
  second.reset();
  EXPECT_TRUE(unlocked->open(pty.slave(), link_settings(19200)).ok());
  unlocked.reset();
  setenv("ZP3K_LOCK_DIR", lock_dir().c_str(), 1);
}

TEST(PtyPort, FailedOpeningsLeaveNoDescriptorAndNoChange) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(pty.set_line(cooked_1200(pty)));
  const std::unique_ptr<SerialPort> port = make_system_port();
  const int before = open_descriptors();
  const struct { const char* name; LineSettings settings; Result result; int error; } refused[] = {
      {"/nonexistent/ttyZZ", link_settings(9600), Result::NOT_FOUND, ENOENT},
      {"/dev/null", link_settings(9600), Result::WRONG_KIND, ENOTTY},  // not a terminal
      {pty.slave(), link_settings(12345), Result::WRONG_KIND, EINVAL},  // no such speed
      {pty.slave(), {9600, 8, Parity::EVEN, StopBits::ONE_AND_HALF}, Result::WRONG_KIND, EINVAL},
      {nullptr, link_settings(9600), Result::WRONG_KIND, EINVAL},
  };
  for (const auto& row : refused) {
    EXPECT_EQ(ended(port->open(row.name, row.settings)), ended({row.result, row.error})) << row.name;
  }
  EXPECT_EQ(open_descriptors(), before);
  const termios after = pty.line();
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B1200));
  EXPECT_TRUE(after.c_lflag & ICANON);
  port->close();  // not open: no effect
  EXPECT_EQ(open_descriptors(), before);
}

TEST(PtyPort, ClosingRestoresThePreviousSettings) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(pty.set_line(cooked_1200(pty)));
  const termios previous = pty.line();
  const int before = open_descriptors();
  std::unique_ptr<SerialPort> port = open_even(pty.slave(), 115200);
  ASSERT_TRUE(port);
  const termios during = pty.line();
  ASSERT_EQ(cfgetospeed(&during), static_cast<speed_t>(B115200));
  port->close();
  EXPECT_EQ(open_descriptors(), before);
  const termios now = pty.line();
  EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&previous));
  EXPECT_EQ(now.c_lflag, previous.c_lflag);
  EXPECT_EQ(now.c_iflag, previous.c_iflag);
  EXPECT_EQ(now.c_oflag, previous.c_oflag);
  EXPECT_EQ(now.c_cflag, previous.c_cflag);
}

TEST(PtyPort, ARequestWrittenJustBeforeClosingLeavesTheWire) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::unique_ptr<SerialPort> port = open_even(pty.slave(), 115200);
  ASSERT_TRUE(port);
  const std::string run = "\x05" "00FFAA0104\r";
  ASSERT_EQ(port->write(reinterpret_cast<const std::uint8_t*>(run.data()),
                        static_cast<int>(run.size())),
            static_cast<int>(run.size()));
  port->close();
  EXPECT_EQ(pty.drain(2000), run);
}

TEST(PtyPort, TheLockIsHeldAcrossReopeningsAndReleasedAtDestruction) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::string lock = port_lock_path(pty.slave());
  std::string name = std::string(pty.slave()).substr(5);  // "pts/N"
  EXPECT_EQ(lock, lock_dir() + "/LCK.." + name.replace(3, 1, "_"));  // LCK..pts_N
  // A link and its target share the lock.
  const std::string link = lock_dir() + "/ttyLINK";
  ASSERT_EQ(symlink(pty.slave(), link.c_str()), 0);
  EXPECT_EQ(port_lock_path(link.c_str()), lock);
  const std::string pid_text = hdb_pid(getpid());
  std::unique_ptr<SerialPort> port = open_even(link.c_str(), 9600);
  ASSERT_TRUE(port);
  EXPECT_EQ(file_text(lock), pid_text);
  struct stat st {};
  ASSERT_EQ(stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  port->close();
  EXPECT_EQ(file_text(lock), pid_text);
  EXPECT_TRUE(port->open(link.c_str(), link_settings(115200)).ok());
  port->close();
  port.reset();
  EXPECT_EQ(file_text(lock), "(none)");
  unlink(link.c_str());
}

TEST(PtyPort, ALiveHoldersLockRefusesWithItsPidAndADeadOnesIsTakenOver) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::string lock = port_lock_path(pty.slave());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  const std::string text = hdb_pid(child);
  write_lock(lock, text);
  const std::unique_ptr<SerialPort> port = make_system_port();
  const int before = open_descriptors();
  EXPECT_EQ(ended(port->open(pty.slave(), link_settings(9600))), ended({Result::IN_USE, EBUSY}));
  EXPECT_EQ(port->holder_pid(), static_cast<long>(child));
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_EQ(file_text(lock), text);  // another's lock is left alone
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // The holder has died: its lock is stale, as is one nobody can read.
  for (const std::string& stale : {text, std::string("garbage\n"), std::string()}) {
    write_lock(lock, stale);
    std::unique_ptr<SerialPort> taker = make_system_port();
    EXPECT_TRUE(taker->open(pty.slave(), link_settings(9600)).ok()) << stale;
    EXPECT_EQ(taker->holder_pid(), 0);
    EXPECT_EQ(file_text(lock), hdb_pid(getpid()));
    taker.reset();
    EXPECT_EQ(file_text(lock), "(none)");
  }
}

TEST(PtyPort, AnotherThreadPutsTheSettingsBackAndNoOpeningFollows) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(pty.set_line(cooked_1200(pty)));
  const termios previous = pty.line();
  const std::unique_ptr<SerialPort> port = open_even(pty.slave(), 115200);
  ASSERT_TRUE(port);
  // A read waits in this thread while the other one puts the line back.
  std::thread ending([&port] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    port->restore_settings();
  });
  std::uint8_t byte = 0;
  EXPECT_EQ(port->read(&byte, 1), 0);
  ending.join();
  const termios now = pty.line();
  EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&previous));
  EXPECT_EQ(now.c_lflag, previous.c_lflag);
  EXPECT_EQ(now.c_cflag, previous.c_cflag);
  EXPECT_TRUE(port->is_open());
  EXPECT_EQ(file_text(port_lock_path(pty.slave())), "(none)");  // ends with the process
  port->close();
  EXPECT_EQ(ended(port->open(pty.slave(), link_settings(115200))), ended({Result::FAILED, ECANCELED}));
  const termios after = pty.line();
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&previous));
}

}  // namespace
}  // namespace imgload
