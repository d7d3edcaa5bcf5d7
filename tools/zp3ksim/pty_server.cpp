// Serving the pseudo-terminal: requests gathered from the downloader's
// bytes, replies at the line's pace, the openings and closings the line
// watch reports, and the line reset between downloaders.
#include "pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/clock.h"

namespace zp3ksim {

namespace {

constexpr int POLL_MS = 200;                  // ms between looks at a quiet line
constexpr std::size_t MAX_FRAME = 600;        // bytes; the longest request is 530
constexpr double FRAME_STALL_MS = 3000;       // ms a started frame may wait for its rest
constexpr std::uint32_t RESET_SPEED = 1200;   // bit/s of a line no downloader holds
constexpr int CLOSE_SETTLE_MS = 50;           // ms
constexpr double NOISE_MIN_MS = 0.5;          // ms between noise bytes at the least
// A request that starts this soon after bytes the downloader may not have
// read (noise, a reply cut short, a late tail) may find them in front of its
// reply: the downloader drops unread bytes just before it writes a request.
constexpr double STALE_SLACK_MS = 100;
constexpr std::uint8_t NOISE_BYTE = 'A';

using zp3k::now_ms;

std::uint32_t speed_of(speed_t s) {
  const struct { speed_t code; std::uint32_t speed; } SPEEDS[] = {
      {B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
      {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
  for (const auto& known : SPEEDS) {
    if (known.code == s) return known.speed;
  }
  return 0;
}

// Puts the line back to settings no downloader uses (1200 bit/s, cooked) and
// drops whatever the downloader left unread, so every opening is a real
// change and starts clean. No software flow control is left switched on: a
// Windows port keeps the flow-control settings it finds, and XON/XOFF would
// then swallow bytes of a binary data frame. False when the device could
// not be opened.
// After a close (after_close), raw settings on the line are a downloader's
// that has opened it again meanwhile (one that closes puts back the cooked
// ones it found): they are left alone, or its next requests would go out at
// the reset speed.
bool reset_line(const std::string& slave_name, bool after_close) {
  const int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return false;
  termios t{};
  const bool read = tcgetattr(slave, &t) == 0;
  if (after_close && read && (t.c_lflag & ICANON) == 0) {
    close(slave);
    return true;
  }
  tcflush(slave, TCIOFLUSH);
  if (read) {
    t.c_iflag = ICRNL;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARODD)) | CS8 | CREAD;
    cfsetispeed(&t, B1200);  // RESET_SPEED
    cfsetospeed(&t, B1200);
    tcsetattr(slave, TCSANOW, &t);
  }
  close(slave);
  return true;
}

LineState observe_line(int master) {
  LineState line{0, ""};
  termios t{};
  if (tcgetattr(master, &t) != 0) {
    line.problem = "cannot read the line settings";
    return line;
  }
  line.speed = speed_of(cfgetospeed(&t));
  if (cfgetispeed(&t) != cfgetospeed(&t) && cfgetispeed(&t) != B0) {
    line.problem += "input and output speeds differ; ";
  }
  if (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) line.problem += "not raw (local modes); ";
  if (t.c_oflag & OPOST) line.problem += "output processing on; ";
  if (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON)) line.problem += "input processing on; ";
  if (t.c_cflag & CSTOPB) line.problem += "two stop bits; ";
  if (t.c_cflag & PARODD) line.problem += "odd parity; ";
  if (!line.problem.empty()) line.problem.resize(line.problem.size() - 2);
  return line;
}

// Gathers request frames from the bytes the downloader writes. Frames are
// delimited by their length (the data request carries raw CR bytes).
struct FrameAssembler {
  std::vector<std::uint8_t> frame;
  double started_ms = 0;  // when its first byte came
  LineState line;         // as seen at its first byte

  // Adds a byte to the frame (the caller starts one only with ENQ); true
  // when the byte completed it.
  bool feed(std::uint8_t byte) {
    if (frame.empty()) expected_ = 0;
    frame.push_back(byte);
    const std::size_t n = frame.size();
    if (n == 7) {
      const std::string command(frame.begin() + 5, frame.end());
      if (command == "AD" || command == "AB" || command == "AG") expected_ = 10;
      else if (command == "AA") expected_ = 12;
      else if (command == "EF") expected_ = 14;
      else if (command == "FG") expected_ = 26;
    } else if (n == 11 && frame[5] == 'F' && frame[6] == 'D') {
      expected_ = std::string(frame.begin() + 7, frame.end()) == "FFFF" ? 26 : 530;
    }
    if (expected_ != 0) return n == expected_;
    // An unknown command: up to its CR, to be judged (and refused) whole.
    return (n >= 8 && byte == 0x0D && !(frame[5] == 'F' && frame[6] == 'D')) || n >= MAX_FRAME;
  }

 private:
  std::size_t expected_ = 0;
};

// What went out of a reply (or of its tail).
struct Sent {
  double end_ms;       // when the last byte left
  std::size_t count;   // bytes written
  bool interrupted;    // a request came first: the downloader no longer waits for it
};

// The second part of a split reply, due some time after the first. The
// simulator answers requests that come meanwhile and sends the tail at the
// first quiet moment after it is due: after the downloader has moved on,
// those are stale bytes it must not take for the reply to a later request.
struct PendingTail {
  ReplyPlan plan;
  std::size_t next = 0;  // first byte still to send
  double due_ms = 0;
  bool late = false;     // a request has come since the first part
  bool active() const { return next < plan.bytes.size(); }
};

// What ended a wait on the line.
enum class Wait { DUE, DATA, CLOSED, STOP };

// One serving of the pseudo-terminal: the line's state, the request being
// gathered and the timing of replies.
class Server {
 public:
  Server(const Pty& pty, const ServeLimits& limits, BoardFixture& fixture, LineWatch& watch,
         const volatile std::sig_atomic_t* stop)
      : pty_(pty), limits_(limits), fixture_(fixture), watch_(watch), stop_(stop),
        started_(now_ms()) {}

  void serve();
  bool vanished() const { return vanished_; }

 private:
  bool limit_reached();
  int poll_timeout() const;
  void look();
  void take_bytes(ssize_t n, double t);
  LineState line_at_first_byte();
  void answer_request();
  void send_reply(const ReplyPlan& plan, double arrived, double char_ms);
  void send_tail();
  Sent send_bytes(const ReplyPlan& plan, std::size_t from, std::size_t to, double start_ms,
                  double char_ms);
  double send_noise(double due, double char_ms);
  Wait wait_until(double when_ms);
  void apply_events(bool up_to_opening);
  void closed(double t);

  const Pty& pty_;
  const ServeLimits& limits_;
  BoardFixture& fixture_;
  LineWatch& watch_;
  const volatile std::sig_atomic_t* stop_;
  FrameAssembler assembler_;
  const double started_;
  bool line_open_ = false;  // as the events taken so far say
  bool vanished_ = false;   // the device disappeared as asked: the line is gone
  // After noise, a downloader that closes puts its old settings back, and
  // with echo on the line hands noise bytes still arriving back to us, at
  // times only after the close has been seen: from the first noise on, a
  // noise byte outside a frame is taken for its echo, not for a violation.
  bool noise_echo_ = false;
  double line_free_ms_ = 0;  // when the line is idle again after the last reply
  double stale_until_ms_ = -1e18;  // when bytes the downloader may not have read last went out
  bool awaiting_reply_ = false;    // the last request got no reply (yet)
  PendingTail tail_;
  std::uint8_t buffer_[1024];
};

void Server::serve() {
  while (!*stop_ && !limit_reached()) {
    fixture_.tick(now_ms());
    if (fixture_.done()) break;
    // The master is looked at only while the line is open: a closed one
    // shows a hang-up all the time.
    pollfd p[2] = {{watch_.fd(), POLLIN, 0}, {pty_.master, POLLIN, 0}};
    if (poll(p, line_open_ ? 2 : 1, poll_timeout()) < 0 && errno == EINTR) continue;
    look();
    if (vanished_) break;
  }
}

bool Server::limit_reached() {
  if (limits_.max_time_s > 0 && now_ms() - started_ > limits_.max_time_s * 1000) {
    std::fprintf(stderr, "zp3ksim: time limit reached\n");
    return true;
  }
  return limits_.runs > 0 && fixture_.runs_ended() >= limits_.runs;
}

// How long to wait for the downloader: shorter while a tail is due.
int Server::poll_timeout() const {
  if (!tail_.active()) return POLL_MS;
  const double until_due = tail_.due_ms - now_ms();
  return until_due <= 0 ? 0 : until_due < POLL_MS ? static_cast<int>(until_due) + 1 : POLL_MS;
}

// The bytes that came, then the openings and closings: bytes read before the
// events are gathered were written before them, except that bytes on a line
// seen closed follow its next opening.
void Server::look() {
  const double t = now_ms();
  const ssize_t n = read(pty_.master, buffer_, sizeof buffer_);  // EIO: closed, nothing left
  watch_.gather();
  if (n > 0) {
    if (!line_open_) apply_events(true);
    take_bytes(n, t);
    if (vanished_) return;
  }
  apply_events(false);
  if (!assembler_.frame.empty() && now_ms() - assembler_.started_ms > FRAME_STALL_MS) {
    fixture_.violation("a request frame stopped after " +
                       std::to_string(assembler_.frame.size()) + " bytes");
    assembler_.frame.clear();
  }
  // A tail that is due goes out when the line is quiet: no request coming
  // in, none waiting for its reply.
  if (tail_.active() && line_open_ && assembler_.frame.empty() && !awaiting_reply_ &&
      now_ms() >= tail_.due_ms) {
    send_tail();
  }
}

// The openings and closings gathered, in order (only up to the first
// opening when asked).
void Server::apply_events(bool up_to_opening) {
  while (!watch_.events.empty()) {
    const LineEvent e = watch_.events.front();
    watch_.events.pop_front();
    if (e == LineEvent::OPENED && !line_open_) {
      line_open_ = true;
      fixture_.line_opened(now_ms());
      if (up_to_opening) return;
    } else if (e == LineEvent::CLOSED && line_open_) {
      closed(now_ms());
    }
  }
}

// The downloader has let go of the line: what it left is dropped, and the
// line is reset unless someone has opened it again already.
void Server::closed(double t) {
  line_open_ = false;
  tail_ = {};  // the line is reset: nothing of it reaches the next opening
  awaiting_reply_ = false;
  fixture_.line_closed(t, !assembler_.frame.empty());
  assembler_.frame.clear();
  watch_.gather();
  if (watch_.held() || !watch_.events.empty()) return;
  // Its opening and closing wait among the events, gathered only later.
  if (reset_line(pty_.slave, true)) watch_.own_opening();
}

// The bytes read: gathered into requests, each answered as it completes.
void Server::take_bytes(ssize_t n, double t) {
  for (ssize_t i = 0; i < n; ++i) {
    const std::uint8_t byte = buffer_[i];
    if (assembler_.frame.empty()) {
      if (noise_echo_ && byte == NOISE_BYTE) continue;
      if (byte != 0x05) {
        fixture_.stray_bytes(1, byte);
        continue;
      }
      assembler_.started_ms = t;
      assembler_.line = line_at_first_byte();
    }
    if (!assembler_.feed(byte)) continue;
    answer_request();
    if (vanished_) break;
  }
}

// The line's settings for a request starting now; unknown once the
// downloader has closed (or reopened) the line since it wrote.
LineState Server::line_at_first_byte() {
  LineState line = observe_line(pty_.master);
  line.known = watch_.events.empty() && !watch_.pending();
  if (line.known && (!line.problem.empty() || line.speed == RESET_SPEED)) {
    // Settings a downloader does not use: either it never set them, or it
    // has just put its old ones back while closing right after a request
    // that gets no reply. Its closing shows soon.
    pollfd p{watch_.fd(), POLLIN, 0};
    poll(&p, 1, CLOSE_SETTLE_MS);
    watch_.gather();
    if (!watch_.events.empty() || !watch_.held()) line.known = false;
  }
  return line;
}

// The request gathered: judged by the controller, then answered.
void Server::answer_request() {
  LineState line = assembler_.line;
  line.stale = assembler_.started_ms <= stale_until_ms_ + STALE_SLACK_MS;
  if (tail_.active()) tail_.late = true;  // the downloader has moved on
  const double char_ms = ms_per_character(line, limits_.paced);
  // The request takes its wire time from its first byte (or from the
  // end of the last reply); the reply starts when it has arrived.
  const double begin = assembler_.started_ms > line_free_ms_ ? assembler_.started_ms : line_free_ms_;
  const double arrived = begin + static_cast<double>(assembler_.frame.size()) * char_ms;
  fixture_.tick(now_ms());
  const ReplyPlan plan = fixture_.request(assembler_.frame, line);
  if (plan.vanish) {
    char where[64];
    std::snprintf(where, sizeof where, "\"%c%c\" after %.1f s", assembler_.frame[5],
                  assembler_.frame[6], (now_ms() - started_) / 1000.0);
    fixture_.vanished(where);
    vanished_ = true;
    return;
  }
  assembler_.frame.clear();
  line_free_ms_ = arrived;
  awaiting_reply_ = plan.bytes.empty();
  if (!plan.bytes.empty()) send_reply(plan, arrived, char_ms);
}

// A reply's first part (all of it unless split), then its tail is scheduled
// or its noise sent.
void Server::send_reply(const ReplyPlan& plan, double arrived, double char_ms) {
  const std::size_t head = plan.split_at > 0 ? plan.split_at : plan.bytes.size();
  const Sent sent = send_bytes(plan, 0, head, arrived, char_ms);
  line_free_ms_ = sent.end_ms;
  if (sent.interrupted) {
    stale_until_ms_ = sent.end_ms;  // what went out of it may wait unread
  } else if (head < plan.bytes.size()) {
    tail_ = {plan, head, sent.end_ms + plan.split_gap_ms, false};
  } else if (plan.noise) {
    line_free_ms_ = stale_until_ms_ = send_noise(sent.end_ms, char_ms);
    noise_echo_ = true;
  }
  fixture_.reply_finished(now_ms());
}

void Server::send_tail() {
  const LineState line = observe_line(pty_.master);
  const double char_ms = ms_per_character(line, limits_.paced);
  const Sent sent = send_bytes(tail_.plan, tail_.next, tail_.plan.bytes.size(),
                               now_ms() - char_ms, char_ms);
  tail_.next += sent.count;
  line_free_ms_ = sent.end_ms;
  if (tail_.late) fixture_.late_tail_sent(static_cast<long>(sent.count));
  if (tail_.late || sent.interrupted) {
    stale_until_ms_ = sent.end_ms;
    tail_.late = true;
  }
  if (!tail_.active()) {
    if (!tail_.late) fixture_.reply_finished(now_ms());
    tail_ = {};
  }
}

// Waits until when_ms, or until the downloader writes (a request is
// waiting) or lets go of the line, or a stop signal.
Wait Server::wait_until(double when_ms) {
  for (;;) {
    if (*stop_) return Wait::STOP;
    if (!watch_.held() || !watch_.events.empty()) return Wait::CLOSED;
    const double left = when_ms - now_ms();
    pollfd p[2] = {{pty_.master, POLLIN, 0}, {watch_.fd(), POLLIN, 0}};
    const int ready = poll(p, 2, left <= 0 ? 0 : static_cast<int>(std::ceil(left)));
    if (ready < 0 && errno == EINTR) continue;
    if ((p[0].revents & POLLIN) != 0) return Wait::DATA;
    if ((p[1].revents & POLLIN) != 0) {
      watch_.gather();
      continue;
    }
    if (left <= 0) return Wait::DUE;
    if ((p[0].revents & POLLHUP) != 0) {
      // A hang-up the events have not shown: the watch checks its count
      // against it (a moment later, should it still hold).
      watch_.gather();
      timespec pause{0, 1000000L};
      if (watch_.held()) nanosleep(&pause, nullptr);
    }
  }
}

// Sends bytes [from, to) of a reply at the pace of the line, the first one
// char_ms after start_ms. Stops when the downloader lets go of the line,
// and before a byte when a request is already waiting: a downloader only
// writes again once it has given up on this reply.
Sent Server::send_bytes(const ReplyPlan& plan, std::size_t from, std::size_t to, double start_ms,
                        double char_ms) {
  double due = start_ms;
  Sent sent{start_ms, 0, false};
  for (std::size_t k = from; k < to; ++k) {
    due += char_ms;
    if (k > from && plan.byte_gap_ms > 0) due += plan.byte_gap_ms;
    const Wait w = wait_until(due);
    if (w == Wait::DATA) sent.interrupted = true;
    if (w != Wait::DUE) break;
    while (write(pty_.master, &plan.bytes[k], 1) < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (*stop_) break;
    }
    ++sent.count;
  }
  sent.end_ms = sent.count > 0 ? due : now_ms();
  return sent;
}

// Bytes without CR at the pace of the line (at least NOISE_MIN_MS apart, so
// an unpaced simulator does not flood), until the downloader writes again or
// lets go of the line. Returns the time the last byte left.
double Server::send_noise(double due, double char_ms) {
  const std::uint8_t byte = NOISE_BYTE;
  long sent = 0;
  const double gap = char_ms > NOISE_MIN_MS ? char_ms : NOISE_MIN_MS;
  for (;;) {
    due += gap;
    if (wait_until(due) != Wait::DUE) break;
    if (write(pty_.master, &byte, 1) == 1) ++sent;  // a full buffer drops the byte, as noise may
  }
  fixture_.noise_sent(sent);
  return now_ms();
}

}  // namespace

bool open_pty(Pty* pty) {
  pty->master = posix_openpt(O_RDWR | O_NOCTTY);
  if (pty->master < 0 || grantpt(pty->master) != 0 || unlockpt(pty->master) != 0 ||
      ptsname(pty->master) == nullptr) {
    return false;
  }
  pty->slave = ptsname(pty->master);
  fcntl(pty->master, F_SETFL, fcntl(pty->master, F_GETFL) | O_NONBLOCK);
  fcntl(pty->master, F_SETFD, FD_CLOEXEC);
  reset_line(pty->slave, false);
  return true;
}

bool serve(const Pty& pty, const ServeLimits& limits, BoardFixture& fixture, LineWatch& watch,
           const volatile std::sig_atomic_t* stop) {
  Server server(pty, limits, fixture, watch, stop);
  server.serve();
  fixture.finish();
  return server.vanished();
}

}  // namespace zp3ksim
