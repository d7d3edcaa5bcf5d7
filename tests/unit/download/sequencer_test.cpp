// A download against the scripted controller and the virtual clock: the
// whole sequence, the retry and failure rules, pauses, the speed change, the
// stop request, the set-up failures and a file that changes under the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "imgload/download/download_job.h"
#include "imgload/download/messages.h"
#include "imgload/download/sequencer.h"
#include "imgload/download/status.h"
#include "imgload/link/countdown.h"
#include "imgload/link/frame.h"
#include "scripted_controller.h"

namespace imgload {
namespace {

using testing::Answer;
using testing::ScriptedController;
using Strings = std::vector<std::string>;

const std::string SUCCESS = "ダウンロード正常終了";
const std::string TIMEOUT = "通信エラー\n(タイムアウトエラー)";
const std::string DATA_ERROR = "通信エラー\n(受信データエラー)";
const std::string FILE_OPEN = "通信エラー\n(ファイルオープンエラー)";
const std::string FILE_READ = "通信エラー\n(ファイルリードエラー)";
const std::string PORT_OPEN = "通信エラー\n(COMポートオープンエラー)";

class SequencerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/seqtestXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ctl.reset();
    job = DownloadJob{};
    std::strcpy(job.port_device, "/dev/fake");
    stop_requested = 0;
    download_.reset();
  }
  void TearDown() override {
    for (const std::string& f : made_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }

  // An image file of blocks × 512 bytes with varied content, CR bytes included.
  std::string make_file(const std::string& name, int blocks, int seed = 1) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(blocks) * 512);
    for (std::size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(seed) * 13) ^ (i >> 9));
    }
    if (!data.empty()) data[3] = CR;
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
    made_.push_back(path);
    contents_[path] = data;
    return path;
  }

  void add_entry(const std::string& path, std::uint32_t address = 0x8000) {
    const int i = job_entries_++;
    std::strcpy(job.paths[i], path.c_str());
    job.start_addresses[i] = address;
    job.entry_count = job_entries_;
  }

  void run() {
    // One download object for the fixture's job; a second run reuses it.
    if (!download_) download_.reset(new Download(job, stop_requested, ctl.port, &ctl, &ctl));
    ctl.clock.lower(&download_->countdown());
    outcome = download_->run(ctl);
    EXPECT_EQ(status_text(status_for(outcome)), ctl.last_status()) << "the outcome is the last text shown";
    EXPECT_FALSE(download_->port_open()) << "the port stays open after the run";
    EXPECT_FALSE(ctl.port.is_open());
    const SequencerSteps& steps = download_->steps();
    EXPECT_EQ(steps.phase, 0);
    EXPECT_EQ(steps.control_step + steps.speed_step + steps.announce_step + steps.transfer_step +
                  steps.finish_step,
              0);
  }

  Strings sent() const { return ctl.lines("send "); }
  int count_of(const Strings& lines, const std::string& what) const {
    int n = 0;
    for (const std::string& l : lines) n += l == what;
    return n;
  }

  ScriptedController ctl;
  DownloadJob job;
  std::atomic<int> stop_requested{0};
  std::unique_ptr<Download> download_;
  DownloadResult outcome;
  std::string dir_;
  std::vector<std::string> made_;
  std::map<std::string, std::vector<std::uint8_t>> contents_;
  int job_entries_ = 0;
};

TEST_F(SequencerTest, OneFileIsSentAsNDataRequestsAndAnEndRequest) {
  const std::string path = make_file("one.bin", 8);
  add_entry(path);
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  const Strings fd = ctl.lines("send FD");
  ASSERT_EQ(fd.size(), 9u);
  for (int i = 0; i < 8; ++i) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "send FD%04X0200", i + 1);
    EXPECT_EQ(fd[static_cast<std::size_t>(i)], expected);
  }
  EXPECT_EQ(fd[8].substr(0, 15), "send FDFFFF0000") << fd[8];
  EXPECT_EQ(fd[8].size(), 23u);
  // The controller received the file unchanged, and the check value is the
  // XOR of its words.
  ASSERT_EQ(ctl.files.size(), 1u);
  EXPECT_EQ(ctl.files[0], contents_[path]);
  EXPECT_EQ(ctl.end_values[0], ctl.data_xor[0]);
  // Progress: range N + 1 for the blocks, stepped N + 1 times, so it ends full.
  const Strings progress = ctl.lines("reset|step");
  ASSERT_EQ(progress.size(), 1u + 1u + 9u);
  EXPECT_EQ(progress[0], "reset 3");
  EXPECT_EQ(progress[1], "reset 9");
  EXPECT_EQ(count_of(progress, "step"), 9);
  EXPECT_EQ(ctl.lines("text 1017"), Strings{"text 1017 No.1"});
  const Strings blocks = ctl.lines("text 1018");
  ASSERT_EQ(blocks.size(), 8u);
  EXPECT_EQ(blocks.front(), "text 1018 Block No. 1");
  EXPECT_EQ(blocks.back(), "text 1018 Block No. 8");
}

TEST_F(SequencerTest, WireOrderForOneFileWithRunAfterDownload) {
  add_entry(make_file("one.bin", 4), 0x8000);
  job.speed_index = 4;
  job.run_after_download = 1;
  run();
  const Strings expected = {
      "open /dev/fake 9600", "send AD", "send AA06", "send AB", "send EF0A12", "close",
      "sleep 1000", "open /dev/fake 115200", "send FG0000800000000800", "send FD00010200",
      "send FD00020200", "send FD00030200", "send FD00040200",
      "send FDFFFF0000" + [&] {
        char v[9];
        std::snprintf(v, sizeof v, "%08X", ctl.data_xor.empty() ? 0u : ctl.data_xor[0]);
        return std::string(v);
      }(),
      "send AG", "close", "open /dev/fake 9600", "send AA01", "close"};
  EXPECT_EQ(ctl.lines("open|close|send|sleep"), expected);
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  // The first text is the transfer notice, shown when "AD" is sent.
  EXPECT_EQ(ctl.lines("text 1014").front(),
            std::string("text 1014 ") + "データ転送中\n電源を切らないでください!");

  // The pauses: 1 s after the mode request, 1 s after the reopening, 3 s
  // after "AG", 1 s after the close; each a countdown that reaches 0
  // between N - 1 and N seconds after it was set.
  auto gap = [&](const std::string& a, int na, const std::string& b, int nb) {
    return static_cast<long long>(ctl.time_of(b, nb)) - static_cast<long long>(ctl.time_of(a, na));
  };
  EXPECT_GE(gap("reply 0", 2, "send AB", 1), 0);  // reply 0 #2 is the mode request's
  EXPECT_LE(gap("reply 0", 2, "send AB", 1), 1000);
  EXPECT_GE(gap("open /dev/fake 115200", 1, "send FG0000800000000800", 1), 0);
  EXPECT_LE(gap("open /dev/fake 115200", 1, "send FG0000800000000800", 1), 1000);
  EXPECT_GE(gap("send AG", 1, "close", 2), 2000);
  EXPECT_LE(gap("send AG", 1, "close", 2), 3000);
  EXPECT_GE(gap("close", 2, "open /dev/fake 9600", 2), 0);
  EXPECT_LE(gap("close", 2, "open /dev/fake 9600", 2), 1000);
  EXPECT_EQ(gap("close", 1, "open /dev/fake 115200", 1), 1000);
  // Line settings of every opening: 8 data bits, even parity, one stop bit.
  for (const testing::OpenRecord& open : ctl.port.opens()) {
    EXPECT_EQ(open.settings.data_bits, 8);
    EXPECT_EQ(open.settings.parity, Parity::EVEN);
    EXPECT_EQ(open.settings.stop_bits, StopBits::ONE);
  }
}

TEST_F(SequencerTest, WithoutRunAfterDownloadTheRunRequestIsNotSent) {
  add_entry(make_file("one.bin", 4));
  job.run_after_download = 0;
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("RUN"), 0);
  EXPECT_EQ(sent().back(), "send AG");
}

TEST_F(SequencerTest, ThreeFilesAskModelOnceAndChangeSpeedPerFile) {
  const std::string a = make_file("a.bin", 4, 1);
  const std::string b = make_file("b.bin", 8, 2);
  const std::string c = make_file("c.bin", 4, 3);
  add_entry(a, 0x8000);
  add_entry(b, 0x100000);
  add_entry(c, 0);
  job.speed_index = 2;
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("AD"), 1);
  EXPECT_EQ(ctl.count("AA"), 3);
  EXPECT_EQ(ctl.count("EF"), 3);
  EXPECT_EQ(ctl.count("FG"), 3);
  EXPECT_EQ(ctl.count("RUN"), 1);
  const Strings opens = ctl.lines("open");
  const Strings expected_opens = {"open /dev/fake 9600", "open /dev/fake 38400",
                                  "open /dev/fake 9600", "open /dev/fake 38400",
                                  "open /dev/fake 9600", "open /dev/fake 38400",
                                  "open /dev/fake 9600"};
  EXPECT_EQ(opens, expected_opens);
  // Modes: "06" for a non-zero start address, "07" for address 0.
  EXPECT_EQ(ctl.lines("send AA"),
            (Strings{"send AA06", "send AA06", "send AA07", "send AA01"}));
  EXPECT_EQ(ctl.lines("send FG"),
            (Strings{"send FG0000800000000800", "send FG0010000000001000",
                     "send FG0000000000000800"}));
  ASSERT_EQ(ctl.files.size(), 3u);
  EXPECT_EQ(ctl.files[0], contents_[a]);
  EXPECT_EQ(ctl.files[1], contents_[b]);
  EXPECT_EQ(ctl.files[2], contents_[c]);
  // Block numbers start again at 1 for each file.
  EXPECT_EQ(count_of(ctl.lines("send FD"), "send FD00010200"), 3);
  // Between files the progress bar returns to range 0..3.
  EXPECT_EQ(ctl.lines("reset"),
            (Strings{"reset 3", "reset 5", "reset 3", "reset 9", "reset 3", "reset 5"}));
  EXPECT_EQ(ctl.lines("text 1017"),
            (Strings{"text 1017 No.1", "text 1017 No.2", "text 1017 No.3"}));
}

TEST_F(SequencerTest, StopDuringFirstOfThreeFinishesThatFileAndEndsWithSuccess) {
  add_entry(make_file("a.bin", 4, 1));
  add_entry(make_file("b.bin", 4, 2));
  add_entry(make_file("c.bin", 4, 3));
  ctl.on_request = [this](const std::string& request, int occurrence) {
    if (request == "FD" && occurrence == 2) stop_requested = 1;
  };
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("FG"), 1);
  EXPECT_EQ(ctl.count("FDEND"), 1);
  EXPECT_EQ(ctl.count("AG"), 1);
  EXPECT_EQ(ctl.count("RUN"), 1);
  // File 1 finished whole: pause, close, pause, reopen at 9600, run request.
  const Strings tail = ctl.lines("open|close|send AG|send AA01");
  const Strings expected = {"open /dev/fake 9600", "close", "open /dev/fake 115200", "send AG",
                            "close", "open /dev/fake 9600", "send AA01", "close"};
  EXPECT_EQ(tail, expected);
}

TEST_F(SequencerTest, StopDuringLastFileChangesNothing) {
  add_entry(make_file("a.bin", 4, 1));
  add_entry(make_file("b.bin", 4, 2));
  ctl.on_request = [this](const std::string& request, int occurrence) {
    if (request == "FD" && occurrence == 6) stop_requested = 1;  // file 2, block 2
  };
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("FG"), 2);
  EXPECT_EQ(ctl.count("FDEND"), 2);
  EXPECT_EQ(ctl.count("RUN"), 1);
}

TEST_F(SequencerTest, NoTargetSendsModelRequestThreeTimesThenTimesOut) {
  add_entry(make_file("a.bin", 4));
  ctl.answer_always("AD", Answer::SILENT);
  run();
  EXPECT_EQ(ctl.last_status(), TIMEOUT);
  EXPECT_EQ(sent(), (Strings{"send AD", "send AD", "send AD"}));
  // Each resend comes after the previous wait has timed out (one empty read
  // of about 3 s at least).
  EXPECT_GE(ctl.time_of("send AD", 2) - ctl.time_of("send AD", 1), 3000u);
  EXPECT_GE(ctl.time_of("send AD", 3) - ctl.time_of("send AD", 2), 3000u);
  // The transfer notice is shown again with every attempt, then the failure.
  EXPECT_EQ(ctl.lines("text 1014").size(), 4u);
}

TEST_F(SequencerTest, ModeRequestNakThreeTimesIsReceivedDataError) {
  add_entry(make_file("a.bin", 4));
  ctl.answer_always("AA", Answer::NAK);
  run();
  EXPECT_EQ(ctl.last_status(), DATA_ERROR);
  EXPECT_EQ(sent(), (Strings{"send AD", "send AA06", "send AA06", "send AA06"}));
}

TEST_F(SequencerTest, TwoFailuresThenSuccessGoesOn) {
  add_entry(make_file("a.bin", 4));
  ctl.answer("AD", 1, Answer::BAD_BCC);
  ctl.answer("AD", 2, Answer::SILENT);
  ctl.answer("AA", 1, Answer::NAK);
  ctl.answer("AA", 2, Answer::SILENT);
  ctl.answer("AG", 1, Answer::NAK);
  ctl.answer("AG", 2, Answer::NAK);
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("AD"), 3);
  EXPECT_EQ(ctl.count("AA"), 3);
  EXPECT_EQ(ctl.count("AG"), 3);
}

TEST_F(SequencerTest, FinishRequestFailingThreeTimesEndsTheRun) {
  add_entry(make_file("a.bin", 4));
  ctl.answer_always("AG", Answer::SILENT);
  run();
  EXPECT_EQ(ctl.last_status(), TIMEOUT);
  EXPECT_EQ(ctl.count("AG"), 3);
  EXPECT_EQ(ctl.count("RUN"), 0);
}

struct EndsAtOnce {
  const char* request;
  int occurrence;
  Answer answer;
  const char* status;
};

void PrintTo(const EndsAtOnce& c, std::ostream* os) { *os << c.request << " #" << c.occurrence; }

class SequencerEndsAtOnceTest : public SequencerTest,
                                public ::testing::WithParamInterface<EndsAtOnce> {};

TEST_P(SequencerEndsAtOnceTest, FirstFailedReplyInAnnounceOrBlocksEndsTheRun) {
  const EndsAtOnce& c = GetParam();
  add_entry(make_file("a.bin", 8));
  ctl.answer(c.request, c.occurrence, c.answer);
  run();
  EXPECT_EQ(ctl.last_status(), c.status);
  EXPECT_EQ(ctl.count(c.request), c.occurrence) << "no second attempt";
  const Strings s = sent();
  EXPECT_EQ(s.back().substr(5, 2), std::string(c.request).substr(0, 2)) << "nothing after it";
  EXPECT_EQ(ctl.count("AG"), 0);
  EXPECT_EQ(ctl.count("RUN"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SequencerEndsAtOnceTest,
    ::testing::Values(EndsAtOnce{"FG", 1, Answer::NAK, "通信エラー\n(受信データエラー)"},
                      EndsAtOnce{"FG", 1, Answer::SILENT, "通信エラー\n(タイムアウトエラー)"},
                      EndsAtOnce{"FD", 1, Answer::NAK, "通信エラー\n(受信データエラー)"},
                      EndsAtOnce{"FD", 5, Answer::SILENT, "通信エラー\n(タイムアウトエラー)"},
                      EndsAtOnce{"FDEND", 1, Answer::NAK, "通信エラー\n(受信データエラー)"},
                      EndsAtOnce{"FDEND", 1, Answer::SILENT, "通信エラー\n(タイムアウトエラー)"}),
    [](const ::testing::TestParamInfo<EndsAtOnce>& info) {
      return std::string(info.param.request) + "_" + std::to_string(info.param.occurrence) +
             (info.param.answer == Answer::NAK ? "_nak" : "_silent");
    });

TEST_F(SequencerTest, SilenceIsWaitedForAsLongAsTheCountdownAllows) {
  add_entry(make_file("a.bin", 4));
  ctl.answer("FG", 1, Answer::SILENT);
  run();
  EXPECT_EQ(ctl.last_status(), TIMEOUT);
  // "FG" has a 60 s countdown: the timeout comes with the first empty read
  // that ends after it has run out.
  const std::uint64_t waited = ctl.time_of("reply -5") - ctl.time_of("send FG0000800000000800");
  EXPECT_GE(waited, 59000u);
  EXPECT_LE(waited, 63000u);
}

TEST_F(SequencerTest, ReplySplitAcrossReadsIsAssembledAndAccepted) {
  add_entry(make_file("a.bin", 4));
  ctl.answer("FG", 1, Answer::SPLIT);
  ctl.answer("AB", 1, Answer::SPLIT);
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("AB"), 1);
  EXPECT_EQ(ctl.count("FG"), 1);
}

TEST_F(SequencerTest, ReplySplitLongerThanItsCountdownTimesOut) {
  add_entry(make_file("a.bin", 4));
  ctl.answer("AG", 1, Answer::SPLIT);  // "AG" waits 1 s; the gap is one silent read
  run();
  EXPECT_EQ(ctl.lines("reply").size() > 0, true);
  EXPECT_NE(ctl.time_of("reply -5"), ~std::uint64_t{0}) << "the first reply timed out";
  EXPECT_GE(ctl.count("AG"), 2);
}

TEST_F(SequencerTest, OtherModeCostsNoAttempt) {
  add_entry(make_file("a.bin", 4));
  // Two failed answers and many "other mode" answers in between: with the
  // other modes costing attempts, the run would end.
  ctl.answer("AB", 1, Answer::OTHER_MODE);
  ctl.answer("AB", 2, Answer::BAD_BCC);
  ctl.answer("AB", 3, Answer::OTHER_MODE);
  ctl.answer("AB", 4, Answer::OTHER_MODE);
  ctl.answer("AB", 5, Answer::SILENT);
  ctl.answer("AB", 6, Answer::OTHER_MODE);
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("AB"), 7);
  EXPECT_EQ(ctl.count("AA"), 1) << "the mode request is not repeated";
}

TEST_F(SequencerTest, OtherModeBeforeAFailureLeavesTheBudgetWhole) {
  add_entry(make_file("a.bin", 4));
  // Counted as attempts, the two other modes and the BCC failure would use
  // up all three.
  ctl.answer("AB", 1, Answer::OTHER_MODE);
  ctl.answer("AB", 2, Answer::OTHER_MODE);
  ctl.answer("AB", 3, Answer::BAD_BCC);
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("AB"), 4);
}

TEST_F(SequencerTest, AddressZeroSendsAndExpectsMode07) {
  add_entry(make_file("a.bin", 4), 0);
  ctl.answer("AB", 1, Answer::OTHER_MODE);  // reports "06" while "07" was asked for
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("AB"), 2);
  EXPECT_EQ(ctl.lines("send AA").front(), "send AA07");
  EXPECT_EQ(ctl.lines("send FG").front(), "send FG0000000000000800");
}

TEST_F(SequencerTest, ModeQueriesAreBoundedAndEndWithTheTimeoutText) {
  add_entry(make_file("a.bin", 4));
  ctl.answer_always("AB", Answer::OTHER_MODE);
  run();
  EXPECT_EQ(ctl.last_status(), TIMEOUT);
  EXPECT_EQ(ctl.count("AB"), MODE_QUERY_LIMIT);
  EXPECT_EQ(ctl.count("EF"), 0);
}

// The controller still switching (other modes) when the stop is pressed:
// the file is finished, then the run ends normally, in the first file of two
// and in the last.
TEST_F(SequencerTest, StopDuringTheModeQueriesFinishesTheFile) {
  struct Row { int first_other, last_other, stop_at, files_sent; };
  for (const Row& row : {Row{1, 7, 3, 1}, Row{2, 8, 4, 2}}) {
    SCOPED_TRACE(row.files_sent);
    TearDown();
    job_entries_ = 0;
    SetUp();
    add_entry(make_file("a.bin", 4, 1));
    add_entry(make_file("b.bin", 4, 2));
    for (int n = row.first_other; n <= row.last_other; ++n) ctl.answer("AB", n, Answer::OTHER_MODE);
    const int stop_at = row.stop_at;
    ctl.on_request = [this, stop_at](const std::string& request, int occurrence) {
      if (request == "AB" && occurrence == stop_at) stop_requested = 1;
    };
    run();
    EXPECT_EQ(ctl.last_status(), SUCCESS);
    EXPECT_EQ(ctl.count("AB"), row.last_other + 1);
    EXPECT_EQ(ctl.count("FDEND"), row.files_sent);
    EXPECT_EQ(ctl.count("AG"), row.files_sent);
    EXPECT_EQ(ctl.count("RUN"), 1);
    EXPECT_EQ(ctl.files.size(), static_cast<std::size_t>(row.files_sent));
  }
}

TEST_F(SequencerTest, SpeedRequestNeverAcknowledgedTimesOutAfterThreeAttempts) {
  add_entry(make_file("a.bin", 4));
  ctl.answer_always("EF", Answer::SILENT);
  run();
  EXPECT_EQ(ctl.last_status(), TIMEOUT);
  EXPECT_EQ(ctl.count("EF"), 3);
  EXPECT_EQ(ctl.lines("open").size(), 1u) << "no reopening without an acknowledgement";
}

TEST_F(SequencerTest, SpeedChangeIsMadeAlsoAt9600) {
  add_entry(make_file("a.bin", 4));
  job.speed_index = 0;
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.lines("send EF"), Strings{"send EF0612"});
  EXPECT_EQ(ctl.lines("open|close|sleep").size(), 7u);
  EXPECT_EQ(ctl.lines("sleep"), Strings{"sleep 1000"});
}

TEST_F(SequencerTest, MissingThirdFileSendsNothing) {
  add_entry(make_file("a.bin", 4));
  add_entry(make_file("b.bin", 4));
  add_entry(dir_ + "/missing.bin");
  run();
  EXPECT_EQ(ctl.last_status(), FILE_OPEN);
  EXPECT_TRUE(ctl.port.opens().empty());
  EXPECT_TRUE(ctl.port.writes().empty());
  // One that grew past the largest image since it was checked is not read.
  ctl.reset();
  const std::string big = make_file("big.bin", 0);
  ASSERT_EQ(truncate(big.c_str(), 1025 * 2048), 0);
  std::strcpy(job.paths[2], big.c_str());
  download_.reset();
  run();
  EXPECT_EQ(ctl.last_status(), FILE_READ);
  EXPECT_TRUE(ctl.port.opens().empty());
}

TEST_F(SequencerTest, PortInUseShowsPortOpenErrorAndSendsNothing) {
  add_entry(make_file("a.bin", 4));
  ctl.port.fail_next_opens(1);
  run();
  EXPECT_EQ(ctl.last_status(), PORT_OPEN);
  EXPECT_TRUE(ctl.port.writes().empty());
}

TEST_F(SequencerTest, ReopeningAtTheSelectedSpeedFails) {
  add_entry(make_file("a.bin", 4));
  ctl.on_request = [this](const std::string& request, int) {
    if (request == "EF") ctl.port.fail_next_opens(1);
  };
  run();
  EXPECT_EQ(ctl.last_status(), PORT_OPEN);
  EXPECT_EQ(ctl.count("FG"), 0);
}

TEST_F(SequencerTest, ReopeningAt9600AfterAFileFails) {
  add_entry(make_file("a.bin", 4));
  add_entry(make_file("b.bin", 4));
  ctl.on_request = [this](const std::string& request, int) {
    if (request == "AG") ctl.port.fail_next_opens(1);
  };
  run();
  EXPECT_EQ(ctl.last_status(), PORT_OPEN);
  EXPECT_EQ(ctl.count("AA"), 1);
  EXPECT_EQ(ctl.count("RUN"), 0);
}

TEST_F(SequencerTest, ExternalFlashRefusalNamesOnlyTheFirstExternalEntry) {
  add_entry(make_file("a.bin", 4), 0x8000);
  add_entry(make_file("b.bin", 4), 0x100000);
  add_entry(make_file("c.bin", 4), 0x1F0000);
  ctl.model_digits = "10";  // one of the two bits only: no external flash
  run();
  EXPECT_EQ(ctl.last_status(), std::string(message_text(MSG_NO_EXTERNAL_FLASH)) + "(No.2)");
  EXPECT_EQ(sent(), Strings{"send AD"});
}

TEST_F(SequencerTest, ExternalFlashIsAcceptedWhenTheModelHasIt) {
  add_entry(make_file("a.bin", 4), 0x100000);
  ctl.model_digits = "08";
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
}

TEST_F(SequencerTest, LowerCaseModelDigitsEndTheRunAtOnce) {
  add_entry(make_file("a.bin", 4));
  ctl.model_digits = "3A";
  ctl.answer("AD", 1, Answer::LOWER_CASE);
  run();
  EXPECT_EQ(ctl.last_status(), DATA_ERROR);
  EXPECT_EQ(ctl.count("AD"), 1);
}

TEST_F(SequencerTest, AFileChangedUnderTheRunHasNoEffectTheCheckedBytesAreSentWhole) {
  struct Case {
    const char* what;
    const char* request;  // the change is made when this request arrives
    int occurrence;
    void (*change)(const std::string& path);
  } cases[] = {
      {"shrunk before its blocks", "FG", 1,
       [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 1024), 0); }},
      {"cut short in its blocks", "FD", 1,
       [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 1124), 0); }},
      {"grown in its blocks", "FD", 1,
       [](const std::string& p) {
         std::ofstream(p, std::ios::binary | std::ios::app) << std::string(512, 'x');
       }},
      {"removed before its blocks", "FG", 1, [](const std::string& p) { std::remove(p.c_str()); }},
      {"rewritten in place in its blocks", "FD", 3,
       [](const std::string& p) {
         std::ofstream(p, std::ios::binary | std::ios::in) << std::string(8 * 512, 'n');
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ctl.reset();
    download_.reset();
    const std::string path = make_file(std::string(c.what) + ".bin", 8);
    job_entries_ = 0;
    add_entry(path);
    ctl.on_request = [&](const std::string& request, int occurrence) {
      if (request == c.request && occurrence == c.occurrence) c.change(path);
    };
    run();
    EXPECT_EQ(ctl.last_status(), SUCCESS);
    ASSERT_EQ(ctl.files.size(), 1u);
    EXPECT_EQ(ctl.files[0], contents_[path]) << "exactly the bytes checked at the start";
    EXPECT_EQ(ctl.end_values[0], ctl.data_xor[0]);
  }
}

TEST_F(SequencerTest, BytesGivenByTheFrontEndAreSentWithoutReadingTheFiles) {
  const std::string path = make_file("a.bin", 4);
  add_entry(path);
  auto images = std::make_shared<ImageSet>();
  images->files[0] = std::vector<std::uint8_t>(4 * 512, 0x5A);
  std::remove(path.c_str());
  download_ = std::make_unique<Download>(job, stop_requested, ctl.port, &ctl, &ctl, images);
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  ASSERT_EQ(ctl.files.size(), 1u);
  EXPECT_EQ(ctl.files[0], images->files[0]);
}

TEST_F(SequencerTest, PausesWaitOnTheClockInsteadOfSpinning) {
  add_entry(make_file("a.bin", 4));
  run();
  // Pauses of 1 + 1 + 3 + 1 seconds, each waited for tick by tick.
  EXPECT_GE(ctl.wait_ticks, 4);
  EXPECT_LE(ctl.wait_ticks, 6);
  // The reads: one per reply byte plus a few; no polling loop on the port.
  EXPECT_LT(ctl.port.read_calls(), 400);
}

TEST_F(SequencerTest, SecondRunStartsFromAClearedState) {
  add_entry(make_file("a.bin", 4));
  ctl.answer_always("FG", Answer::NAK);
  run();
  EXPECT_EQ(ctl.last_status(), DATA_ERROR);
  ctl.reset();
  run();
  EXPECT_EQ(ctl.last_status(), SUCCESS);
  EXPECT_EQ(ctl.count("AD"), 1);
}

}  // namespace
}  // namespace imgload
