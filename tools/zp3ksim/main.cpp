// zp3ksim: a simulated ZP3K controller on a pseudo-terminal. It prints the
// device a downloader opens, answers the download protocol at the pace of
// the line, checks what the downloader does, saves the images it receives
// and reports; it exits with 1 when the downloader broke the protocol.
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "faults.h"
#include "imgload/link/posix/monotonic.h"
#include "sim_controller.h"
#include "zp3k_version.h"

namespace zp3ksim {
namespace {

constexpr int CLOSED_POLL_MS = 5;             // ms between looks at a closed line
constexpr int OPEN_POLL_MS = 200;             // ms
constexpr std::size_t MAX_FRAME = 600;        // bytes; the longest request is 530
constexpr double FRAME_STALL_MS = 3000;       // ms a started frame may wait for its rest
constexpr std::uint32_t RESET_SPEED = 1200;   // bit/s of a line no downloader holds
constexpr double CLOSE_SETTLE_MS = 50;        // ms
constexpr double NOISE_MIN_MS = 0.5;          // ms between noise bytes at the least
// A request that starts this soon after bytes the downloader may not have
// read (noise, a reply cut short, a late tail) may find them in front of its
// reply: the downloader drops unread bytes just before it writes a request.
constexpr double STALE_SLACK_MS = 100;
constexpr std::uint8_t NOISE_BYTE = 'A';
constexpr int EXIT_OK = 0;
constexpr int EXIT_VIOLATIONS = 1;
constexpr int EXIT_NO_DEVICE = 2;  // no pseudo-terminal, or --link cannot be made
constexpr int EXIT_USAGE = 64;     // a command line it cannot use (EX_USAGE), as imgconv and imgload

volatile sig_atomic_t stop_signal = 0;
void on_signal(int) { stop_signal = 1; }

using zp3k::now_ms;
void sleep_until(double when_ms) { zp3k::sleep_until(when_ms, &stop_signal); }

std::uint32_t speed_of(speed_t s) {
  const struct { speed_t code; std::uint32_t speed; } SPEEDS[] = {
      {B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
      {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
  for (const auto& known : SPEEDS) {
    if (known.code == s) return known.speed;
  }
  return 0;
}

const char USAGE[] =
    "usage: zp3ksim [options]\n"
    "\n"
    "A simulated ZP3K controller on a pseudo-terminal. The first line printed on\n"
    "standard output is the device to give the downloader (imgload --port DEVICE,\n"
    "or Wine's COM link). It answers the download protocol (\"AD\" with the model\n"
    "information, \"AA\", \"AB\" with the current mode, \"EF\", \"FG\", \"FD\", \"AG\"),\n"
    "paced at 11 bits per character of the line speed the downloader set, and\n"
    "checks every request byte for byte: framing and BCC, fields, order, block\n"
    "numbering, the check value against the data, the line settings and speed\n"
    "(9600 bit/s, then the speed announced with \"EF\" after the reopening), the\n"
    "1000 ms the port stays closed for the speed change and the 3 s after \"AG\".\n"
    "On SIGINT or SIGTERM (or --runs, --max-time) it prints a report.\n"
    "\n"
    "options:\n"
    "  --link PATH        also make PATH a symbolic link to the device\n"
    "  --save-dir DIR     save each received image as DIR/image-N.bin, N = 1, 2, ...\n"
    "  --model XX         the two characters of the \"AD\" model information,\n"
    "                     sent as given (default 30: external flash fitted)\n"
    "  --fault FAULT      inject a fault; may be repeated. FAULT is\n"
    "                     KIND@REQUEST[#N|#N-M|#*][,ARG] (no #: every occurrence)\n"
    "                     REQUEST: AD AA AB EF FG FD FDEND AG RUN (AA = mode\n"
    "                     request, FD = data request, FDEND = end request,\n"
    "                     RUN = \"AA\" with \"01\"); occurrences count from 1 over\n"
    "                     the simulator's life. KIND:\n"
    "                       nak       reply with NAK as first byte\n"
    "                       silent    no reply\n"
    "                       badbcc    wrong BCC\n"
    "                       lower     BCC digits in lower case\n"
    "                       split     reply in two halves ARG ms apart (4000);\n"
    "                                 requests that come meanwhile are answered\n"
    "                                 first, the second half follows when the\n"
    "                                 line is quiet (stale bytes, if the\n"
    "                                 downloader gave up on the reply)\n"
    "                       slow      ARG ms between reply bytes (100)\n"
    "                       long      ARG filler bytes of reply data (600)\n"
    "                       other     (AB) report the mode not asked for\n"
    "                       model     (AD) ARG = two characters of model information\n"
    "                       noise     ACK, then bytes without CR at the line's pace\n"
    "                                 until the next request or the close\n"
    "                       vanish    the device disappears: the pseudo-terminal\n"
    "                                 is closed at once and the report printed\n"
    "  --no-pace          reply at once instead of at the line's pace\n"
    "  --runs N           end after the downloader has ended N runs\n"
    "  --max-time SEC     end after SEC seconds\n"
    "  --report FILE      also write the report to FILE\n"
    "  --quiet            no notes on standard error (violations still)\n"
    "  --help\n"
    "  --version          print the program's name and version\n"
    "\n"
    "exit status: 0 no protocol violation seen, 1 violations seen,\n"
    "             2 no pseudo-terminal (or --link cannot be made),\n"
    "             64 bad command line\n";

struct Options {
  std::string link;
  std::string report_file;
  int runs = 0;
  double max_time_s = 0;
  SimOptions sim;
};

// The whole text as a number above zero: no sign, space, unit or other
// trailing character ("3x" and "1s" are refused, as are inf and nan).
template <typename Number>
bool positive_number(const char* text, Number* out) {
  const char* end = text + std::strlen(text);
  Number value{};
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end || !(value > 0) || !std::isfinite(double(value))) return false;
  *out = value;
  return true;
}

// One option into *o; false, with the reason printed, when it cannot be used.
bool take_option(int c, char** argv, Options* o) {
  const std::string v = optarg != nullptr ? optarg : "";
  switch (c) {
    case 'h':
      std::fputs(USAGE, stdout);
      std::exit(EXIT_OK);
    case 'v':
      std::fputs("zp3ksim " ZP3K_VERSION "\n", stdout);
      std::exit(EXIT_OK);
    case 'l': o->link = v; break;
    case 's': o->sim.save_dir = v; break;
    case 'r': o->report_file = v; break;
    case 'm':
      if (v.size() != 2) {
        std::fprintf(stderr, "zp3ksim: --model takes two characters\n");
        return false;
      }
      o->sim.model = v;
      break;
    case 'f': {
      Fault f;
      std::string error;
      if (!parse_fault(v, &f, &error)) {
        std::fprintf(stderr, "zp3ksim: --fault %s: %s\n", v.c_str(), error.c_str());
        return false;
      }
      o->sim.faults.push_back(f);
      break;
    }
    case 'p': o->sim.paced = false; break;
    case 'q': o->sim.quiet = true; break;
    case 'n':
      if (!positive_number(optarg, &o->runs)) {
        std::fprintf(stderr, "zp3ksim: --runs takes a whole number from 1, not '%s'\n", optarg);
        return false;
      }
      break;
    case 't':
      if (!positive_number(optarg, &o->max_time_s)) {
        std::fprintf(stderr, "zp3ksim: --max-time takes seconds above 0, not '%s'\n", optarg);
        return false;
      }
      break;
    case ':':
      std::fprintf(stderr, "zp3ksim: %s needs a value\n", argv[optind - 1]);
      return false;
    default: {  // '?' or 1: an unknown option (a letter, or a long word) or a stray word
      const std::string word = c == 1 ? v : optopt != 0 ? std::string("-") + char(optopt) : argv[optind - 1];
      std::fprintf(stderr, "zp3ksim: unknown argument '%s' (see --help)\n", word.c_str());
      return false;
    }
  }
  return true;
}

bool parse_options(int argc, char** argv, Options* o) {
  // Long options only; the letters are their getopt_long codes.
  const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},        {"link", required_argument, nullptr, 'l'},
      {"save-dir", required_argument, nullptr, 's'}, {"report", required_argument, nullptr, 'r'},
      {"model", required_argument, nullptr, 'm'},  {"fault", required_argument, nullptr, 'f'},
      {"no-pace", no_argument, nullptr, 'p'},      {"runs", required_argument, nullptr, 'n'},
      {"max-time", required_argument, nullptr, 't'}, {"quiet", no_argument, nullptr, 'q'},
      {"version", no_argument, nullptr, 'v'},      {nullptr, 0, nullptr, 0},
  };
  optind = 0;
  opterr = 0;
  // '-': a word that is no option comes back as 1; ':': a missing value as ':'.
  int c;
  while ((c = getopt_long(argc, argv, "-:h", long_options, nullptr)) != -1) {
    if (!take_option(c, argv, o)) return false;
  }
  if (optind < argc) {  // a word after "--"
    std::fprintf(stderr, "zp3ksim: unknown argument '%s' (see --help)\n", argv[optind]);
    return false;
  }
  return true;
}

// The pseudo-terminal: the master we serve and the slave's name.
struct Pty {
  int master = -1;
  std::string slave;
};

// Puts the line back to settings no downloader uses (1200 bit/s, cooked) and
// drops whatever the downloader left unread, so every opening is a real
// change and starts clean. Opening and closing the slave here also arms the
// hang-up that tells a closed line from an open one. No software flow control
// is left switched on: a Windows port keeps the flow-control settings it
// finds, and XON/XOFF would then swallow bytes of a binary data frame.
void reset_line(const Pty& pty) {
  const int slave = open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return;
  tcflush(slave, TCIOFLUSH);
  termios t{};
  if (tcgetattr(slave, &t) == 0) {
    t.c_iflag = ICRNL;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARODD)) | CS8 | CREAD;
    cfsetispeed(&t, B1200);  // RESET_SPEED
    cfsetospeed(&t, B1200);
    tcsetattr(slave, TCSANOW, &t);
  }
  close(slave);
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

// Whether the master shows the event now: POLLHUP, the downloader has
// closed the line; POLLIN, it has written (a request is waiting).
bool line_shows(int master, short event) {
  pollfd p{master, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & event) != 0;
}

// Gathers request frames from the bytes the downloader writes. Frames are
// delimited by their length (the data request carries raw CR bytes).
struct FrameAssembler {
  std::vector<std::uint8_t> frame;
  double started_ms = 0;  // when its first byte came
  LineState line;         // as seen at its first byte

  // Returns true when the byte completed a frame.
  // line_closed: the downloader has closed the line since writing the byte,
  // so the settings seen now are no longer the ones it used.
  bool feed(std::uint8_t byte, double now, int master, bool line_closed, SimController& ctl) {
    if (frame.empty()) {
      if (byte != 0x05) {
        ctl.stray_bytes(1, byte);
        return false;
      }
      started_ms = now;
      line = observe_line(master);
      line.known = !line_closed;
      if (line.known && (!line.problem.empty() || line.speed == RESET_SPEED)) {
        // Settings a downloader does not use: either it never set them, or
        // it has just put its old ones back while closing right after a
        // request that gets no reply. A closing shows as a hang-up soon.
        sleep_until(now_ms() + CLOSE_SETTLE_MS);
        if (line_shows(master, POLLHUP)) line.known = false;
      }
      expected_ = 0;
    }
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

// Bytes without CR at the pace of the line (at least NOISE_MIN_MS apart, so
// an unpaced simulator does not flood), until the downloader writes again or
// hangs up. Returns the time the last byte left.
double send_noise(int master, double due, double char_ms, SimController& ctl) {
  const std::uint8_t byte = NOISE_BYTE;
  long sent = 0;
  const double gap = char_ms > NOISE_MIN_MS ? char_ms : NOISE_MIN_MS;
  while (!stop_signal && !line_shows(master, POLLHUP) && !line_shows(master, POLLIN)) {
    due += gap;
    sleep_until(due);
    if (write(master, &byte, 1) == 1) ++sent;  // a full buffer drops the byte, as noise may
  }
  ctl.noise_sent(sent);
  return now_ms();
}

// What went out of a reply (or of its tail).
struct Sent {
  double end_ms;       // when the last byte left
  std::size_t count;   // bytes written
  bool interrupted;    // a request came first: the downloader no longer waits for it
};

// Sends bytes [from, to) of a reply at the pace of the line, the first one
// char_ms after start_ms. Stops when the downloader hangs up, and before a
// byte when a request is already waiting: a downloader only writes again
// once it has given up on this reply.
Sent send_bytes(int master, const ReplyPlan& plan, std::size_t from, std::size_t to,
                double start_ms, double char_ms) {
  double due = start_ms;
  Sent sent{start_ms, 0, false};
  for (std::size_t k = from; k < to; ++k) {
    due += char_ms;
    if (k > from && plan.byte_gap_ms > 0) due += plan.byte_gap_ms;
    sleep_until(due);
    if (stop_signal || line_shows(master, POLLHUP)) break;
    if (line_shows(master, POLLIN)) {
      sent.interrupted = true;
      break;
    }
    while (write(master, &plan.bytes[k], 1) < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (stop_signal) break;
    }
    ++sent.count;
  }
  sent.end_ms = sent.count > 0 ? due : now_ms();
  return sent;
}

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

// One serving of the pseudo-terminal until a signal, a limit or a vanishing:
// the line's state, the request being gathered and the timing of replies.
class Server {
 public:
  Server(const Options& options, const Pty& pty, SimController& ctl)
      : options_(options), pty_(pty), ctl_(ctl), started_(now_ms()) {}

  void serve();
  bool vanished() const { return vanished_; }

 private:
  void take_bytes(ssize_t n, bool hangup);
  void answer_request();
  void send_reply(const ReplyPlan& plan, double arrived, double char_ms);
  void look_at_line(bool hangup);
  void send_tail();

  const Options& options_;
  const Pty& pty_;
  SimController& ctl_;
  FrameAssembler assembler_;
  const double started_;
  bool line_open_ = false;
  bool vanished_ = false;  // the device disappeared as asked: the line is gone
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
  while (!stop_signal) {
    if (options_.max_time_s > 0 && now_ms() - started_ > options_.max_time_s * 1000) {
      std::fprintf(stderr, "zp3ksim: time limit reached\n");
      break;
    }
    if (options_.runs > 0 && ctl_.runs_ended() >= options_.runs) break;
    // How long to wait for the downloader's bytes: shorter while a tail is due.
    int wait_ms = line_open_ ? OPEN_POLL_MS : CLOSED_POLL_MS;
    if (tail_.active()) {
      const double until_due = tail_.due_ms - now_ms();
      wait_ms = until_due <= 0 ? 0 : until_due < wait_ms ? static_cast<int>(until_due) + 1 : wait_ms;
    }
    pollfd p{pty_.master, POLLIN, 0};
    const int ready = poll(&p, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    const bool hangup = ready > 0 && (p.revents & POLLHUP) != 0;
    if (ready > 0 && (p.revents & POLLIN) != 0) {
      const ssize_t n = read(pty_.master, buffer_, sizeof buffer_);
      take_bytes(n, hangup);
      if (vanished_) break;
      if (n > 0) continue;
    }
    look_at_line(hangup);
  }
}

// The bytes read: gathered into requests, each answered as it completes.
void Server::take_bytes(ssize_t n, bool hangup) {
  const double t = now_ms();
  // Bytes on a line seen closed: it was opened, written and closed while
  // the simulator slept between looks.
  if (n > 0 && !line_open_) {
    line_open_ = true;
    ctl_.line_opened(t);
  }
  for (ssize_t i = 0; i < n; ++i) {
    if (noise_echo_ && assembler_.frame.empty() && buffer_[i] == NOISE_BYTE) continue;
    if (!assembler_.feed(buffer_[i], t, pty_.master, hangup, ctl_)) continue;
    answer_request();
    if (vanished_) break;
  }
}

// The request gathered: judged by the controller, then answered.
void Server::answer_request() {
  LineState line = assembler_.line;
  line.stale = assembler_.started_ms <= stale_until_ms_ + STALE_SLACK_MS;
  if (tail_.active()) tail_.late = true;  // the downloader has moved on
  const double char_ms = ms_per_character(line, options_.sim.paced);
  // The request takes its wire time from its first byte (or from the
  // end of the last reply); the reply starts when it has arrived.
  const double begin = assembler_.started_ms > line_free_ms_ ? assembler_.started_ms : line_free_ms_;
  const double arrived = begin + static_cast<double>(assembler_.frame.size()) * char_ms;
  const ReplyPlan plan = ctl_.request(assembler_.frame, line);
  if (plan.vanish) {
    char where[64];
    std::snprintf(where, sizeof where, "\"%c%c\" after %.1f s", assembler_.frame[5],
                  assembler_.frame[6], (now_ms() - started_) / 1000.0);
    ctl_.vanished(where);
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
  const Sent sent = send_bytes(pty_.master, plan, 0, head, arrived, char_ms);
  line_free_ms_ = sent.end_ms;
  if (sent.interrupted) {
    stale_until_ms_ = sent.end_ms;  // what went out of it may wait unread
  } else if (head < plan.bytes.size()) {
    tail_ = {plan, head, sent.end_ms + plan.split_gap_ms, false};
  } else if (plan.noise) {
    line_free_ms_ = stale_until_ms_ = send_noise(pty_.master, sent.end_ms, char_ms, ctl_);
    noise_echo_ = true;
  }
  ctl_.reply_finished(now_ms());
}

// A look at the line when no bytes came: opening, a stalled frame, a tail
// that is due, a hang-up.
void Server::look_at_line(bool hangup) {
  if (!line_open_ && !hangup) {
    line_open_ = true;
    ctl_.line_opened(now_ms());
  }
  if (!assembler_.frame.empty() && now_ms() - assembler_.started_ms > FRAME_STALL_MS) {
    ctl_.violation("a request frame stopped after " + std::to_string(assembler_.frame.size()) +
                   " bytes");
    assembler_.frame.clear();
  }
  // A tail that is due goes out when the line is quiet: no request coming
  // in, none waiting for its reply.
  if (tail_.active() && line_open_ && !hangup && assembler_.frame.empty() && !awaiting_reply_ &&
      now_ms() >= tail_.due_ms) {
    send_tail();
  }
  if (!hangup) return;
  tail_ = {};  // the line is reset: nothing of it reaches the next opening
  awaiting_reply_ = false;
  if (line_open_) {
    line_open_ = false;
    ctl_.line_closed(now_ms(), !assembler_.frame.empty());
    assembler_.frame.clear();
    reset_line(pty_);
  }
  timespec pause{0, CLOSED_POLL_MS * 1000000L};
  nanosleep(&pause, nullptr);
}

void Server::send_tail() {
  const LineState line = observe_line(pty_.master);
  const double char_ms = ms_per_character(line, options_.sim.paced);
  const Sent sent = send_bytes(pty_.master, tail_.plan, tail_.next, tail_.plan.bytes.size(),
                               now_ms() - char_ms, char_ms);
  tail_.next += sent.count;
  line_free_ms_ = sent.end_ms;
  if (tail_.late) ctl_.late_tail_sent(static_cast<long>(sent.count));
  if (tail_.late || sent.interrupted) {
    stale_until_ms_ = sent.end_ms;
    tail_.late = true;
  }
  if (!tail_.active()) {
    if (!tail_.late) ctl_.reply_finished(now_ms());
    tail_ = {};
  }
}


// The --link symbolic link to the device, replacing an earlier link only.
bool make_link(const Options& options, const Pty& pty) {
  if (options.link.empty()) return true;
  struct stat st {};
  if (lstat(options.link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "zp3ksim: %s exists and is not a symbolic link\n", options.link.c_str());
      return false;
    }
    unlink(options.link.c_str());
  }
  if (symlink(pty.slave.c_str(), options.link.c_str()) != 0) {
    std::perror("zp3ksim: --link");
    return false;
  }
  return true;
}

int run(const Options& options) {
  // The pseudo-terminal's master, non-blocking, its line reset.
  Pty pty;
  pty.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
      ptsname(pty.master) == nullptr) {
    std::perror("zp3ksim: pseudo-terminal");
    return EXIT_NO_DEVICE;
  }
  pty.slave = ptsname(pty.master);
  fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
  fcntl(pty.master, F_SETFD, FD_CLOEXEC);
  reset_line(pty);
  if (!make_link(options, pty)) return EXIT_NO_DEVICE;
  std::printf("%s\n", pty.slave.c_str());
  std::fflush(stdout);

  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  SimController ctl(options.sim);
  Server server(options, pty, ctl);
  server.serve();

  // The report, on standard output and in --report's file, and the exit
  // status. A vanished device takes its line with it before anything else is said.
  if (server.vanished()) {
    close(pty.master);
    pty.master = -1;
    if (!options.link.empty()) unlink(options.link.c_str());
  }
  const std::string report = ctl.report();
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  if (!options.report_file.empty()) std::ofstream(options.report_file) << report;
  if (!options.link.empty()) unlink(options.link.c_str());
  if (pty.master >= 0) close(pty.master);
  return ctl.violations() > 0 ? EXIT_VIOLATIONS : EXIT_OK;
}

}  // namespace
}  // namespace zp3ksim

int main(int argc, char** argv) {
  zp3ksim::Options options;
  if (!zp3ksim::parse_options(argc, argv, &options)) {
    std::fputs("see zp3ksim --help\n", stderr);
    return zp3ksim::EXIT_USAGE;
  }
  return zp3ksim::run(options);
}
