// The simulated controller's judgement of a downloader, fed frames directly:
// a correct run passes, and each kind of protocol break is reported; runs
// in a row, and boards in turn on one line. Also the fault specifications
// of its command line, and the watch on the line's openings and closings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "board_fixture.h"
#include "faults.h"
#include "line_watch.h"
#include "sim_controller.h"
#include "test_frames.h"

namespace zp3ksim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frame(const std::string& command, const std::string& fields, const Bytes& raw = {},
            const std::string& reserved = "FF") {
  const std::string f = imgload::testing::with_bcc("\x05" "00" + reserved + command + fields +
                                                   std::string(raw.begin(), raw.end()));
  return Bytes(f.begin(), f.end());
}

// A frame written out whole, its BCC digits checked by hand.
Bytes written(const std::string& f) { return Bytes(f.begin(), f.end()); }

const LineState AT_9600{9600, "", true};
const LineState AT_115200{115200, "", true};

void add_fault(SimOptions* o, const char* fault) {
  Fault f;
  std::string error;
  EXPECT_TRUE(parse_fault(fault, &f, &error)) << error;
  o->faults.push_back(f);
}

// Quiet options with the model and, if given, one fault.
SimOptions options_with(const char* fault = nullptr, const char* model = "30") {
  SimOptions o;
  o.quiet = true;
  o.model = model;
  if (fault != nullptr) add_fault(&o, fault);
  return o;
}

// Drives a controller (or the boards of a fixture) through a run the way a
// correct downloader does, with hooks to break it at chosen points. Time
// is virtual: each request is preceded by a tick.
template <typename Target>
class Driver {
 public:
  template <typename... Args>
  explicit Driver(Args&&... args) : ctl(std::forward<Args>(args)...) {}
  ReplyPlan send(const Bytes& f, const LineState& line) {
    t += 30;
    asked_at = t;
    ctl.tick(t);
    ReplyPlan plan = ctl.request(f, line);
    t += 5;
    ctl.reply_finished(t);
    return plan;
  }
  void open() { ctl.line_opened(t += 1); }
  void close(double after_ms) { ctl.line_closed(t += after_ms, false); }
  void wait(double ms) { ctl.tick(t += ms); }
  // Up to the announce, the port closed for closed_ms around "EF".
  void to_blocks(double closed_ms = 1000) {
    open();
    send(frame("AD", ""), AT_9600);
    to_blocks_after_model(closed_ms);
  }
  void to_blocks_after_model(double closed_ms = 1000) {
    send(frame("AA", "06"), AT_9600);
    t += 900;
    send(frame("AB", ""), AT_9600);
    send(frame("EF", "0A12"), AT_9600);
    close(1);
    t += closed_ms;
    open();
    t += 800;
  }
  // A file of four blocks (of 0, 1, 2, 3 bytes: the XOR of their words is 0) and "AG".
  void one_file() {
    send(frame("FG", "0000800000000800"), AT_115200);
    data_blocks(4);
    send(frame("FD", "FFFF000000000000"), AT_115200);
    send(frame("AG", ""), AT_115200);
  }
  // The blocks of the file; false at the first one refused.
  bool data_blocks(int count, int first_number = 1) {
    for (int i = 0; i < count; ++i) {
      char number[16];
      std::snprintf(number, sizeof number, "%04X0200", first_number + i);
      const Bytes data(512, static_cast<std::uint8_t>(i));
      const ReplyPlan plan = send(frame("FD", number, data), AT_115200);
      if (plan.bytes.empty() || plan.bytes[0] != 0x06) return false;
    }
    return true;
  }
  // After "AG": the pause and the close, then with the run request the
  // reopening for it and the close after it.
  void after_last_file(bool run_request) {
    close(3000);
    if (!run_request) return;
    t += 1000;
    open();
    send(frame("AA", "01"), AT_9600);
    close(1);
  }
  Target ctl;
  double t = 0;
  double asked_at = 0;  // when the last request was taken
};

class SimRun : public Driver<SimController> {
 public:
  explicit SimRun(SimOptions options = options_with()) : Driver(std::move(options)) {}
};

TEST(SimControllerTest, ACorrectRunHasNoViolation) {
  SimRun run;
  run.to_blocks();
  run.one_file();
  run.close(3000);
  run.t += 900;
  run.open();
  run.send(frame("AA", "01"), AT_9600);
  run.close(1);
  EXPECT_EQ(run.ctl.violations(), 0) << run.ctl.report();
  EXPECT_EQ(run.ctl.runs_ended(), 1);
}

TEST(SimControllerTest, RepliesCarryCodeDataAndBcc) {
  SimRun run;
  run.open();
  const ReplyPlan ad = run.send(written("\x05" "00FFAD" "00\r"), AT_9600);
  EXPECT_EQ(std::string(ad.bytes.begin(), ad.bytes.end()), "\x06" "00FFAD30" "00\r");
  run.send(written("\x05" "00FFAA07" "02\r"), AT_9600);
  const ReplyPlan ab = run.send(written("\x05" "00FFAB" "06\r"), AT_9600);
  // ACK 00FF 07, BCC of 06 30 30 46 46 30 37 = 0x01.
  EXPECT_EQ(std::string(ab.bytes.begin(), ab.bytes.end()), "\x06" "00FF07" "01\r");
  EXPECT_EQ(run.ctl.violations(), 0) << run.ctl.report();
}

TEST(SimControllerTest, WrongBlockNumberAndCheckValueAreReported) {
  SimRun run;
  run.to_blocks();
  run.send(frame("FG", "0000800000000800"), AT_115200);
  run.data_blocks(1);
  run.data_blocks(3, 3);  // 0002 skipped
  run.send(frame("FD", "FFFF000012345678"), AT_115200);
  EXPECT_EQ(run.ctl.violations(), 2) << run.ctl.report();
  EXPECT_NE(run.ctl.report().find("expected 0002"), std::string::npos);
  EXPECT_NE(run.ctl.report().find("check value 12345678"), std::string::npos);
}

TEST(SimControllerTest, RequestsOutOfOrderAndAtTheWrongSpeedAreReported) {
  SimRun run;
  run.open();
  run.send(frame("AA", "06"), AT_9600);  // before "AD"
  EXPECT_EQ(run.ctl.violations(), 1);
  SimRun fast;
  fast.open();
  fast.send(frame("AD", ""), AT_115200);  // before any speed change
  EXPECT_EQ(fast.ctl.violations(), 1);
  SimRun stale;
  stale.to_blocks();
  stale.send(frame("FG", "0000800000000800"), AT_9600);  // reopened, but not at 115200
  EXPECT_EQ(stale.ctl.violations(), 1) << stale.ctl.report();
}

TEST(SimControllerTest, ReopeningTooSoonAfterTheSpeedRequestIsReported) {
  SimRun run;
  run.to_blocks(300);
  EXPECT_EQ(run.ctl.violations(), 1) << run.ctl.report();
}

TEST(SimControllerTest, ClosingTooSoonAfterTheFinishRequestIsReported) {
  SimRun run;
  run.to_blocks();
  run.one_file();
  run.close(500);
  EXPECT_EQ(run.ctl.violations(), 1) << run.ctl.report();
}

TEST(SimControllerTest, FramingFaultsAreReported) {
  SimRun run;
  run.open();
  Bytes bad = frame("AD", "");
  bad[7] = 'F';  // BCC digit
  EXPECT_TRUE(run.send(bad, AT_9600).bytes.empty()) << "a bad frame gets no answer";
  run.send(frame("AD", "", {}, "fF"), AT_9600);
  run.send(frame("ZZ", ""), AT_9600);
  run.ctl.stray_bytes(2, 0x41);
  EXPECT_EQ(run.ctl.violations(), 4) << run.ctl.report();
}

TEST(SimControllerTest, RetriesAreCountedAndATooManyIsReported) {
  SimRun run(options_with("nak@AA"));
  run.open();
  run.send(frame("AD", ""), AT_9600);
  for (int i = 0; i < 3; ++i) run.send(frame("AA", "06"), AT_9600);
  EXPECT_EQ(run.ctl.violations(), 0) << "three attempts are allowed";
  run.send(frame("AA", "06"), AT_9600);
  EXPECT_EQ(run.ctl.violations(), 1) << run.ctl.report();
}

// Whether the downloader may send a request again is judged from what its
// readers make of the reply bytes (kept whole, or cut at 544 bytes with the
// BCC taken from there), and from bytes it may have found in front of the
// reply (stale); a reply that may have failed costs an attempt when the
// request comes again, and only the retried requests may come again.
TEST(SimControllerTest, RequestsSentAgainAreJudgedByWhatTheDownloaderCouldRead) {
  struct Row {
    const char* name;
    const char* fault;  // or null
    const char* model;
    bool stale;
    const char* request;
    int sends;
    int violations;
  };
  for (const Row& row : {
           Row{"long reply cut at 544 bytes, its BCC right there", "long@AD", "30", false, "AD", 2, 1},
           Row{"long reply cut at 544 bytes, its BCC wrong there", "long@AD", "31", false, "AD", 2, 0},
           Row{"long reply kept whole", "long@AD,200", "31", false, "AD", 2, 1},
           Row{"behind stale bytes, three attempts", nullptr, "30", true, "AD", 3, 0},
           Row{"behind stale bytes, a fourth attempt", nullptr, "30", true, "AD", 4, 1},
           Row{"split, three attempts", "split@AD", "30", false, "AD", 3, 0},
           Row{"split, a fourth attempt", "split@AD", "30", false, "AD", 4, 1},
           Row{"announce behind stale bytes, sent again", nullptr, "30", true, "FG", 2, 1},
           Row{"announce split, sent again", "split@FG", "30", false, "FG", 2, 1}}) {
    SCOPED_TRACE(row.name);
    SimRun run(options_with(row.fault, row.model));
    const bool announce = std::string(row.request) == "FG";
    if (announce) run.to_blocks();
    else run.open();
    const LineState line{announce ? 115200u : 9600u, "", true, row.stale};
    for (int i = 0; i < row.sends; ++i) {
      run.send(announce ? frame("FG", "0000800000000800") : frame("AD", ""), line);
    }
    EXPECT_EQ(run.ctl.violations(), row.violations) << run.ctl.report();
  }
}

TEST(SimControllerTest, AnnounceIsNotRetriedAfterAFailedReply) {
  SimRun run(options_with("silent@FG#1"));
  run.to_blocks();
  EXPECT_TRUE(run.send(frame("FG", "0000800000000800"), AT_115200).bytes.empty());
  run.send(frame("FG", "0000800000000800"), AT_115200);
  EXPECT_EQ(run.ctl.violations(), 1) << run.ctl.report();
}

// The announce is judged against the mode ("06": not address 0), the
// model and the data blocks to come.
TEST(SimControllerTest, AnnouncementsTheControllerCannotTakeAreReported) {
  struct Row {
    const char* name;
    const char* model;
    const char* fields;  // start address and size
    int violations;
  };
  for (const Row& row : {
           Row{"a whole number of blocks", "30", "0000800000000800", 0},
           Row{"external flash on a model without it", "20", "0010000000000800", 1},
           Row{"address 0 after mode 06", "30", "0000000000000800", 1},
           Row{"no bytes at all", "30", "0000800000000000", 1},
           Row{"not a whole number of blocks", "30", "0000800000000300", 1}}) {
    SCOPED_TRACE(row.name);
    SimRun run(options_with(nullptr, row.model));
    run.to_blocks();
    run.send(frame("FG", row.fields), AT_115200);
    EXPECT_EQ(run.ctl.violations(), row.violations) << run.ctl.report();
  }
}

// Runs in a row on one line: the next run's "AD", the first request after
// the line was closed and opened again, starts a new run whether or not the
// last one ended with the run request; an "AD" without that is out of order.
TEST(SimControllerTest, RunsInARowAreTakenOneAfterAnother) {
  struct Row {
    const char* name;
    bool run_request;
    bool reopened;      // closed and opened again before the next "AD"
    const char* fault;  // a mode request between the reopening and "AD", so faulted
    int violations;
    int runs_ended;
  };
  for (const Row& row : {
           Row{"run request, the next run at once", true, true, nullptr, 0, 1},
           Row{"no run request, the next run at once", false, true, nullptr, 0, 1},
           Row{"run request, then AD on the same opening", true, false, nullptr, 1, 0},
           Row{"no run request, AD before the reopening", false, false, nullptr, 1, 0},
           Row{"no run request, AD after a refused mode request", false, true, "nak@AA#2", 1, 0}}) {
    SCOPED_TRACE(row.name);
    SimRun run(options_with(row.fault));
    run.to_blocks();
    run.one_file();
    run.close(3000);
    if (row.run_request) {
      run.t += 1000;
      run.open();
      run.send(frame("AA", "01"), AT_9600);
    }
    if (row.reopened) {
      if (row.run_request) run.close(1);
      run.t += 5;
      run.open();
    }
    if (row.fault != nullptr) run.send(frame("AA", "06"), AT_9600);
    run.send(frame("AD", ""), AT_9600);
    EXPECT_EQ(run.ctl.violations(), row.violations) << run.ctl.report();
    EXPECT_EQ(run.ctl.runs_ended(), row.runs_ended) << run.ctl.report();
  }
}

// A run without run request ends once its line has stayed closed after the
// last file longer than a run keeps it closed, or when the simulation ends.
TEST(SimControllerTest, ARunWithoutRunRequestEndsWhenItsLineStaysClosed) {
  struct Row {
    const char* name;
    bool reopened;
    double closed_ms;  // from the close after "AG" to the last tick, or < 0: the end
    int runs_ended;
  };
  for (const Row& row : {Row{"closed a moment less", false, CLOSED_FOR_GOOD_MS - 1, 0},
                         Row{"closed for good", false, CLOSED_FOR_GOOD_MS, 1},
                         Row{"reopened for the next file", true, 2 * CLOSED_FOR_GOOD_MS, 0},
                         Row{"the simulation ends", false, -1, 1}}) {
    SCOPED_TRACE(row.name);
    SimRun run;
    run.to_blocks();
    run.one_file();
    run.close(3000);
    const double closed_at = run.t;
    if (row.reopened) run.wait(1000), run.open();
    if (row.closed_ms < 0) run.ctl.finish();
    else run.ctl.tick(closed_at + row.closed_ms);
    EXPECT_EQ(run.ctl.runs_ended(), row.runs_ended) << run.ctl.report();
    EXPECT_EQ(run.ctl.violations(), 0) << run.ctl.report();
  }
}

class BoardRun : public Driver<BoardFixture> {
 public:
  BoardRun(int boards, double swap_ms, SimOptions options = options_with())
      : Driver(std::move(options), boards, swap_ms) {}
  enum Outcome { SUCCEEDED, FAILED, NO_BOARD };
  // One downloader run of one file: "AD" once a second until answered
  // (ten times at the most), the file, and its end; a refused data
  // request fails it. The line is closed at the end. probed: the answered
  // "AD" was the production loop's check for a board, and the run asks
  // again on the same opening.
  Outcome download(bool run_request, bool probed = false) {
    open();
    bool answered = false;
    for (int i = 0; i < 10 && !answered; ++i) {
      if (i > 0) wait(1000);
      const ReplyPlan plan = send(frame("AD", ""), AT_9600);
      answered = !plan.bytes.empty() && plan.bytes[0] == 0x06;
    }
    if (!answered) {
      close(1);
      return NO_BOARD;
    }
    if (probed) send(frame("AD", ""), AT_9600);
    to_blocks_after_model();
    send(frame("FG", "0000800000000800"), AT_115200);
    if (!data_blocks(4)) {
      close(1);
      return FAILED;
    }
    send(frame("FD", "FFFF000000000000"), AT_115200);
    send(frame("AG", ""), AT_115200);
    after_last_file(run_request);
    return SUCCEEDED;
  }
  int files(int k) const { return ctl.board(k) == nullptr ? -1 : ctl.board(k)->files_received(); }
};

// Boards in turn, one downloader run per board started right after the
// last: a board's run ends with its run request, or with the "AD" after its
// line was closed (no run request, or a run that failed), or when the line
// stays closed; meanwhile nothing answers, then the next board does. Faults
// with a board count on that board only, the others over the boards.
TEST(BoardFixtureTest, BoardsAreServedInTurn) {
  struct Row {
    const char* name;
    int boards;
    std::vector<const char*> faults;
    bool run_request;
    std::vector<BoardRun::Outcome> outcomes;
    std::vector<int> files;  // per board
    const char* first_turn;  // how board 1's turn ended
    bool probed = false;     // each board found by the production loop's "AD" first
  };
  const auto OK = BoardRun::SUCCEEDED;
  const auto FAIL = BoardRun::FAILED;
  const char* AFTER_CLOSE = "board 1: served, the downloader asked for the next board";
  for (const Row& row : {
           Row{"run requests", 3, {}, true, {OK, OK, OK}, {1, 1, 1},
               "board 1: served, its run ended with the run request"},
           Row{"no run requests", 2, {}, false, {OK, OK}, {1, 1}, AFTER_CLOSE},
           Row{"a fault on board 2", 3, {"2:nak@FD#2"}, true, {OK, FAIL, OK}, {1, 0, 1}, nullptr},
           Row{"a fault on board 1", 2, {"1:nak@FD#1"}, false, {FAIL, OK}, {0, 1}, AFTER_CLOSE},
           Row{"a fault counted over the boards", 2, {"nak@FD#6"}, true, {OK, FAIL}, {1, 0}, nullptr},
           Row{"found by the loop", 3, {"2:nak@FD#2"}, true, {OK, FAIL, OK}, {1, 0, 1}, nullptr, true},
           Row{"found by the loop, no run requests", 2, {}, false, {OK, OK}, {1, 1}, AFTER_CLOSE,
               true}}) {
    SCOPED_TRACE(row.name);
    SimOptions options = options_with();
    for (const char* fault : row.faults) add_fault(&options, fault);
    BoardRun run(row.boards, 1000, options);
    for (std::size_t k = 0; k < row.outcomes.size(); ++k) {
      EXPECT_EQ(run.download(row.run_request, row.probed), row.outcomes[k]) << "run " << k + 1;
    }
    run.wait(CLOSED_FOR_GOOD_MS);  // the last board's line stays closed
    const std::string report = run.ctl.report();
    EXPECT_EQ(run.ctl.violations(), 0) << report;
    EXPECT_EQ(run.ctl.served(), row.boards) << report;
    EXPECT_TRUE(run.ctl.done()) << report;
    for (int k = 1; k <= row.boards; ++k) EXPECT_EQ(run.files(k), row.files[k - 1]) << report;
    if (row.first_turn != nullptr) {
      EXPECT_NE(report.find(row.first_turn), std::string::npos) << report;
    }
  }
}

// Between two boards requests are taken in and not judged, and nothing
// answers them for the swap time from the run request, or, when the line
// stays closed after a board's run, from the close once that has lasted
// the swap time and at least 3 s.
TEST(BoardFixtureTest, NothingAnswersBetweenBoards) {
  struct Row {
    const char* name;
    double swap_ms;
    bool run_request;
    double quiet_ms;   // from the end of the run: no board yet
    double answer_ms;  // the next board has come
  };
  for (const Row& row : {Row{"swap after the run request", 1000, true, 999, 1000},
                         Row{"a long swap", 5000, true, 4999, 5000},
                         Row{"closed for good, a short swap", 1000, false, 2999, 3000},
                         Row{"closed for good, a long swap", 5000, false, 4999, 5000}}) {
    SCOPED_TRACE(row.name);
    BoardRun run(2, row.swap_ms);
    ASSERT_EQ(run.download(row.run_request), BoardRun::SUCCEEDED);
    const double ended_at = row.run_request ? run.asked_at : run.t;  // the run request, or the close
    if (row.run_request) {  // the downloader asks meanwhile
      run.open();
      Bytes bad = frame("AD", "");
      bad[7] = 'F';
      EXPECT_TRUE(run.send(bad, AT_9600).bytes.empty());
      run.ctl.stray_bytes(3, 0x41);
      EXPECT_TRUE(run.send(frame("AD", ""), AT_9600).bytes.empty());
    }
    run.ctl.tick(ended_at + row.quiet_ms);
    EXPECT_EQ(run.ctl.board(2), nullptr);
    run.ctl.tick(ended_at + row.answer_ms);
    EXPECT_NE(run.ctl.board(2), nullptr);
    EXPECT_EQ(run.ctl.violations(), 0) << run.ctl.report();
    EXPECT_EQ(run.ctl.served(), 1);
  }
}

// Each board's images in a folder of its own, numbered from 1; the report
// names every board, those that never came too, and the totals; without
// boards there is no folder of a board.
TEST(BoardFixtureTest, ImagesAndReportPerBoard) {
  const std::string dir = testing::TempDir() + "zp3ksim_boards";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directory(dir);
  SimOptions options = options_with();
  options.save_dir = dir;
  BoardRun run(3, 1000, options);
  ASSERT_EQ(run.download(false), BoardRun::SUCCEEDED);
  ASSERT_EQ(run.download(true), BoardRun::SUCCEEDED);
  run.ctl.finish();
  for (const char* name : {"/board-1/image-1.bin", "/board-2/image-1.bin"}) {
    EXPECT_EQ(std::filesystem::file_size(dir + name), 2048u) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/board-2/image-2.bin"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/board-3"));
  const std::string report = run.ctl.report();
  for (const char* line : {"boards: 3 in turn, 1.0 s between them; served: 2 of 3",
                           "requests: AD=2 AA=2 AB=2 EF=2 FG=2 FD=8 FDEND=2 AG=2 RUN=1",
                           "requests ignored while no board answered: 1", "runs ended: 2",
                           "files received: 2", "board 2: served, its run ended with the run request",
                           "board 3: not reached", "violations: 0",
                           "board 1: served, the downloader asked for the next board (\"AD\" after a "
                           "close)\n    timing: answering at 0.000 s, first \"AD\" at 0.000 s, the run's "
                           "\"AD\" at 0.000 s\n"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
  }
  EXPECT_FALSE(run.ctl.all_served());
  std::filesystem::remove_all(dir);

  BoardFixture plain(options, 0, DEFAULT_SWAP_MS);
  EXPECT_EQ(plain.report().find("board"), std::string::npos) << plain.report();
  EXPECT_FALSE(plain.all_served());
}

// The line watch, on a real pseudo-terminal: every opening where nobody
// held the device and every last close, in order, however close together
// (also where the kernel merged two openings or two closings in a row); a
// second opener and the simulator's own opening are not the line's.
// Script: O opens the device, C closes the last opened, S is the
// simulator's own opening and closing, G gathers the events so far.
TEST(LineWatchTest, EveryOpeningAndClosingIsSeen) {
  struct Row {
    const char* script;
    const char* events;  // O opened, C closed
    bool held;
  };
  for (const Row& row : {Row{"OCOC", "OCOC", false}, Row{"OCO", "OCO", true},
                         Row{"OOCC", "OC", false}, Row{"OOC", "O", true}, Row{"SO", "O", true},
                         Row{"OCS", "OC", false}, Row{"S", "", false},
                         Row{"OCOOCC", "OCOC", false}, Row{"OOCCOC", "OCOC", false},
                         Row{"OGOGCC", "OC", false}, Row{"OGOGCGC", "OC", false}}) {
    SCOPED_TRACE(row.script);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    close(open(slave.c_str(), O_RDWR | O_NOCTTY));  // from now on a hang-up shows
    LineWatch watch;
    ASSERT_TRUE(watch.start(slave, master));
    std::vector<int> open_fds;
    for (const char* c = row.script; *c != '\0'; ++c) {
      if (*c == 'G') watch.gather();
      if (*c == 'O' || *c == 'S') open_fds.push_back(open(slave.c_str(), O_RDWR | O_NOCTTY));
      if (*c == 'S') watch.own_opening();
      if (*c == 'C' || *c == 'S') {
        close(open_fds.back());
        open_fds.pop_back();
      }
    }
    EXPECT_TRUE(watch.pending());
    watch.gather();
    std::string seen;
    for (LineEvent e : watch.events) seen += e == LineEvent::OPENED ? "O" : "C";
    EXPECT_EQ(seen, row.events);
    EXPECT_EQ(watch.held(), row.held);
    EXPECT_FALSE(watch.pending());
    for (int fd : open_fds) close(fd);
    close(master);
  }
}

TEST(FaultSpecTest, ParsesKindsRequestsOccurrencesAndArguments) {
  Fault f;
  std::string error;
  ASSERT_TRUE(parse_fault("split@FG#2,1500", &f, &error)) << error;
  EXPECT_EQ(f.kind, FaultKind::SPLIT);
  EXPECT_EQ(f.request, "FG");
  EXPECT_EQ(f.first, 2);
  EXPECT_EQ(f.last, 2);
  EXPECT_EQ(f.number, 1500);
  ASSERT_TRUE(parse_fault("other@AB#1-3", &f, &error)) << error;
  EXPECT_EQ(f.first, 1);
  EXPECT_EQ(f.last, 3);
  ASSERT_TRUE(parse_fault("model@AD#1,3a", &f, &error)) << error;
  EXPECT_EQ(f.text, "3a");
  ASSERT_TRUE(parse_fault("silent@FDEND", &f, &error)) << error;
  EXPECT_EQ(f.first, 1);
  EXPECT_GT(f.last, 1000000);
  EXPECT_EQ(f.board, 0);
  const std::vector<Fault> faults = {f};
  EXPECT_NE(find_fault(faults, "FDEND", 7), nullptr);
  EXPECT_EQ(find_fault(faults, "FD", 7), nullptr);
  // Bound to board 2: its own second data request, on no other board.
  Fault on_board;
  ASSERT_TRUE(parse_fault("2:nak@FD#2", &on_board, &error)) << error;
  EXPECT_EQ(on_board.board, 2);
  EXPECT_EQ(on_board.kind, FaultKind::NAK);
  const std::vector<Fault> bound = {on_board};
  EXPECT_NE(find_fault(bound, "FD", 9, 2, 2), nullptr);
  EXPECT_EQ(find_fault(bound, "FD", 2, 1, 2), nullptr);
  EXPECT_EQ(find_fault(bound, "FD", 2), nullptr);
  EXPECT_NE(find_fault(faults, "FDEND", 7, 3, 1), nullptr);
}

TEST(FaultSpecTest, RefusesMalformedSpecifications) {
  Fault f;
  std::string error;
  for (const char* given : {"nak", "nak@XX", "boom@AD", "nak@AD#0", "nak@AD#3-2", "nak@AD#x",
                           "other@AD", "model@AD,123", "nak@AD,5", "split@FG,abc", "noise@AD,5",
                           "0:nak@AD", "x:nak@AD", ":nak@AD", "2:", "1:2:nak@AD"}) {
    EXPECT_FALSE(parse_fault(given, &f, &error)) << given;
  }
}

}  // namespace
}  // namespace zp3ksim
