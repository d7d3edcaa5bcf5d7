// The simulated controller's judgement of a downloader, fed frames directly:
// a correct run passes, and each kind of protocol break is reported. Also
// the fault specifications of its command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "faults.h"
#include "sim_controller.h"

namespace zp3ksim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frame(const std::string& command, const std::string& fields, const Bytes& raw = {},
            const std::string& reserved = "FF") {
  const std::string head = "\x05" "00" + reserved + command + fields;
  Bytes f(head.begin(), head.end());
  for (std::uint8_t b : raw) f.push_back(b);
  std::uint8_t bcc = 0;
  for (std::uint8_t b : f) bcc ^= b;
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", bcc);
  f.push_back(static_cast<std::uint8_t>(digits[0]));
  f.push_back(static_cast<std::uint8_t>(digits[1]));
  f.push_back(0x0D);
  return f;
}

const LineState AT_9600{9600, "", true};
const LineState AT_115200{115200, "", true};

// Quiet options with the model and, if given, one fault.
SimOptions options_with(const char* fault = nullptr, const char* model = "30") {
  SimOptions o;
  o.quiet = true;
  o.model = model;
  if (fault != nullptr) {
    Fault f;
    std::string error;
    EXPECT_TRUE(parse_fault(fault, &f, &error)) << error;
    o.faults.push_back(f);
  }
  return o;
}

// Drives a controller through a run the way a correct downloader does,
// with hooks to break it at chosen points.
class SimRun {
 public:
  explicit SimRun(SimOptions options = options_with()) : ctl(std::move(options)) {}
  ReplyPlan send(const Bytes& f, const LineState& line) {
    t += 30;
    ReplyPlan plan = ctl.request(f, line);
    t += 5;
    ctl.reply_finished(t);
    return plan;
  }
  void open() { ctl.line_opened(t += 1); }
  void close(double after_ms) { ctl.line_closed(t += after_ms, false); }
  // Up to the announce, the port closed for closed_ms around "EF".
  void to_blocks(double closed_ms = 1000) {
    open();
    send(frame("AD", ""), AT_9600);
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
  void data_blocks(int count, int first_number = 1) {
    for (int i = 0; i < count; ++i) {
      char number[16];
      std::snprintf(number, sizeof number, "%04X0200", first_number + i);
      send(frame("FD", number, Bytes(512, static_cast<std::uint8_t>(i))), AT_115200);
    }
  }
  SimController ctl;
  double t = 0;
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
  const ReplyPlan ad = run.send(frame("AD", ""), AT_9600);
  EXPECT_EQ(std::string(ad.bytes.begin(), ad.bytes.end()), "\x06" "00FFAD30" "00\r");
  run.send(frame("AA", "07"), AT_9600);
  const ReplyPlan ab = run.send(frame("AB", ""), AT_9600);
  // ACK 00FF 07, BCC of 06 30 30 46 46 30 37 = 0x01.
  EXPECT_EQ(std::string(ab.bytes.begin(), ab.bytes.end()), "\x06" "00FF07" "01\r");
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
  const std::vector<Fault> faults = {f};
  EXPECT_NE(find_fault(faults, "FDEND", 7), nullptr);
  EXPECT_EQ(find_fault(faults, "FD", 7), nullptr);
}

TEST(FaultSpecTest, RefusesMalformedSpecifications) {
  Fault f;
  std::string error;
  for (const char* given : {"nak", "nak@XX", "boom@AD", "nak@AD#0", "nak@AD#3-2", "nak@AD#x",
                           "other@AD", "model@AD,123", "nak@AD,5", "split@FG,abc", "noise@AD,5"}) {
    EXPECT_FALSE(parse_fault(given, &f, &error)) << given;
  }
}

}  // namespace
}  // namespace zp3ksim
