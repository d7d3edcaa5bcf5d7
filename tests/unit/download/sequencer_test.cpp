// A download against zp3ksim's controller model on the fake port, in virtual
// time: the whole sequence with its exact pauses, a table of stops, mode
// queries and port failures, the set-up failures, files that change under
// the run, and a seeded campaign of random faults, each run's end derived
// from the rules of the protocol.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "imgload/download/sequencer.h"
#include "imgload/link/frame.h"
#include "simulated_line.h"

namespace imgload {
namespace {

using testing::Bytes;
using testing::FakePort;
using testing::SimulatedLine;
using testing::end_name;
using Strings = std::vector<std::string>;

// What every run must leave: the port closed and the counters at 0, the end
// given to the view once and last, a transfer notice per "AD", no protocol
// violation, and the files it reports accepted whole received unchanged.
// Returns what is wrong, empty when nothing.
std::string check_run(const SimulatedLine& line, const Download& download,
                      const DownloadResult& result, const std::vector<Bytes>& files) {
  std::ostringstream out;
  if (download.port_open() || line.port.is_open()) out << "the port stays open\n";
  const SequencerSteps& s = download.steps();
  if (s.phase != 0 ||
      s.control_step + s.speed_step + s.announce_step + s.transfer_step + s.finish_step != 0) {
    out << "a step counter is not back at 0\n";
  }
  const std::string end =
      std::string("end ") + end_name(result.end) + " " + std::to_string(result.file);
  auto last = std::find_if(line.timeline.rbegin(), line.timeline.rend(),
                           [](const testing::Entry& e) { return e.what != "close"; });
  if (line.lines({"end "}) != Strings{end} || last == line.timeline.rend() || last->what != end) {
    out << "the view was not told \"" << end << "\" once and last\n";
  }
  if (line.lines({"transfer"}).size() != static_cast<std::size_t>(line.count("AD"))) {
    out << "not one transfer notice per \"AD\"\n";
  }
  if (line.sim().violations() != 0) out << line.sim().report();
  const std::size_t whole = result.end == DownloadEnd::SUCCEEDED ? files.size()
                            : result.end == DownloadEnd::STOPPED ? static_cast<std::size_t>(result.file)
                                                                 : 0;
  if (whole > 0 && (line.images.size() != whole ||
                    !std::equal(line.images.begin(), line.images.end(), files.begin()))) {
    out << line.images.size() << " file(s) received, not the " << whole << " sent\n";
  }
  return out.str();
}

class SequencerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/seqtestXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fresh();
  }
  void TearDown() override {
    for (const std::string& f : made_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }
  // A new job on a fresh controller.
  void fresh(const std::vector<std::string>& faults = {}) {
    line.reset(faults);
    job = DownloadJob{};
    job.entry_count = 0;
    std::strcpy(job.port_device, "/dev/fake");
    stop_requested = 0;
    download_.reset();
    files.clear();
  }

  // An entry for an image file of blocks × 512 varied bytes, a CR among them.
  std::string add_file(int blocks, std::uint32_t address = 0x8000) {
    Bytes data(static_cast<std::size_t>(blocks) * 512);
    for (std::size_t i = 0; i < data.size(); ++i) {
      data[i] = static_cast<std::uint8_t>((i * 7 + made_.size() * 13) ^ (i >> 9));
    }
    if (!data.empty()) data[3] = CR;
    const std::string path = dir_ + "/" + std::to_string(made_.size()) + ".bin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
    made_.push_back(path);
    std::strcpy(job.paths[job.entry_count], path.c_str());
    job.start_addresses[job.entry_count++] = address;
    files.push_back(data);
    return path;
  }

  void run() {
    // One download object for the fixture's job, reading its files; a second run reuses it.
    if (!download_) {
      download_ = std::make_unique<Download>(job, stop_requested, line.port, line, line);
    }
    line.clock.attach_countdown(&download_->countdown());
    result = download_->run(line);
    EXPECT_EQ(check_run(line, *download_, result, files), "");
  }

  SimulatedLine line;
  DownloadJob job;
  std::atomic<int> stop_requested{0};
  std::unique_ptr<Download> download_;
  DownloadResult result;
  std::vector<Bytes> files;  // the bytes of the job's entries
  std::string dir_;
  std::vector<std::string> made_;
};

// One file of two blocks at 115200 bit/s with the run request, event by
// event, and each pause as its exact number of clock ticks between events.
TEST_F(SequencerTest, OneFileRunsInOrderWithExactPauses) {
  add_file(2);
  run();
  EXPECT_EQ(result.end, DownloadEnd::SUCCEEDED);
  EXPECT_EQ(result.files, 1);
  // 18000000: the words of the file's two blocks XORed together.
  const char* end_request = "send FDFFFF000018000000";
  const Strings expected = {
      "run 1", "open 9600", "transfer", "send AD", "reply 0", "send AA06", "reply 0", "send AB",
      "reply 0", "send EF0A12", "reply 0", "close", "sleep 1000", "open 115200", "file 1 2",
      "send FG0000800000000400", "reply 0", "block 1/2", "send FD00010200", "reply 0", "block 2/2",
      "send FD00020200", "reply 0", "sent 1", end_request, "reply 0", "send AG", "reply 0", "close",
      "finished 1 last", "open 9600", "send AA01", "end SUCCEEDED 1", "close"};
  EXPECT_EQ(line.lines(), expected);
  struct Pause { const char* from; int nth_from; const char* to; int nth_to; int ticks; };
  for (const Pause& p : {Pause{"send AA06", 1, "send AB", 1, 1},
                         Pause{"open 115200", 1, "send FG0000800000000400", 1, 1},
                         Pause{"send AG", 1, "close", 2, 3},
                         Pause{"close", 2, "open 9600", 2, 1},
                         Pause{"close", 1, "open 115200", 1, 0}}) {
    EXPECT_EQ(line.ticks_between(p.from, p.nth_from, p.to, p.nth_to), p.ticks) << p.from << ", " << p.to;
  }
  EXPECT_EQ(line.ticks, 6);
  EXPECT_EQ(line.find("open 115200")->at_ms - line.find("close")->at_ms, 1000u);
  // One read per reply byte and a few: no polling loop on the port.
  EXPECT_LT(line.port.read_calls(), 400);
}

TEST_F(SequencerTest, ThreeFilesAskModelOnceAndChangeSpeedPerFile) {
  add_file(4, 0x8000);
  add_file(8, 0x100000);
  add_file(4, 0);
  job.speed_index = 2;
  run();
  EXPECT_EQ(result.end, DownloadEnd::SUCCEEDED);
  EXPECT_EQ(result.file, 3);
  EXPECT_EQ(line.counts(), "AD1 AA3 AB3 EF3 FG3 FD16 FDEND3 AG3 RUN1");
  EXPECT_EQ(line.lines({"open", "send AA", "file ", "finished"}),
            (Strings{"open 9600", "send AA06", "open 38400", "file 1 4", "finished 1 next", "open 9600",
                     "send AA06", "open 38400", "file 2 8", "finished 2 next", "open 9600", "send AA07",
                     "open 38400", "file 3 4", "finished 3 last", "open 9600", "send AA01"}));
  EXPECT_EQ(line.lines({"send FG"}), (Strings{"send FG0000800000000800", "send FG0010000000001000",
                                              "send FG0000000000000800"}));
}

// What the campaign below does not draw, and how each run ends: its result
// and the requests the controller received. Jobs of files of 4 blocks.
TEST_F(SequencerTest, EachScenarioEndsAsItsRulesSay) {
  struct Row {
    int files;
    std::vector<std::string> faults;
    const char* setting;  // stop@REQ#n: the stop request with it; open-fails@REQ (or @start)
    DownloadEnd end;
    int file;
    ReplyStatus reply;
    std::string counts;
    // The request named with a failed reply: letters, block/blocks of a
    // data or end request, "line failed" when the port's read failed, and
    // "nothing answered" when a timeout came before any byte of a reply.
    std::string failed = "";
  };
  using E = DownloadEnd;
  const Row rows[] = {
      // The controller still switching when the stop comes: the file is finished.
      {2, {"other@AB#1-7"}, "stop@AB#3", E::STOPPED, 1, REPLY_OK,
       "AD1 AA1 AB8 EF1 FG1 FD4 FDEND1 AG1 RUN1"},
      {2, {"other@AB#2-8"}, "stop@AB#4", E::SUCCEEDED, 2, REPLY_OK,
       "AD1 AA2 AB9 EF2 FG2 FD8 FDEND2 AG2 RUN1"},
      // Another mode costs no attempt, but the asking is bounded.
      {1, {"other@AB"}, "", E::TIMED_OUT, 1, REPLY_TIMEOUT, "AD1 AA1 AB2500"},
      // The port in use, and each reopening failing.
      {1, {}, "open-fails@start", E::PORT_OPEN_FAILED, 1, REPLY_OK, ""},
      {1, {}, "open-fails@EF", E::PORT_OPEN_FAILED, 1, REPLY_OK, "AD1 AA1 AB1 EF1"},
      {2, {}, "open-fails@AG", E::PORT_OPEN_FAILED, 2, REPLY_OK, "AD1 AA1 AB1 EF1 FG1 FD4 FDEND1 AG1"},
      // Replies longer than the reply buffer, read to their end and taken once.
      {1, {"long@AD"}, "", E::SUCCEEDED, 1, REPLY_OK, "AD1 AA1 AB1 EF1 FG1 FD4 FDEND1 AG1 RUN1"},
      {1, {"long@AB#1"}, "", E::SUCCEEDED, 1, REPLY_OK, "AD1 AA1 AB1 EF1 FG1 FD4 FDEND1 AG1 RUN1"},
      // A failed reply names its request, a data request its block.
      {2, {"nak@FD#7"}, "", E::REPLY_REJECTED, 2, REPLY_NAK,
       "AD1 AA2 AB2 EF2 FG2 FD7 FDEND1 AG1", "FD 3/4"},
      {1, {"nak@FDEND"}, "", E::REPLY_REJECTED, 1, REPLY_NAK, "AD1 AA1 AB1 EF1 FG1 FD4 FDEND1",
       "FD 0/4"},
      {1, {"silent@AD"}, "", E::TIMED_OUT, 1, REPLY_TIMEOUT, "AD3", "AD nothing answered"},
      {1, {"silent@AA"}, "", E::TIMED_OUT, 1, REPLY_TIMEOUT, "AD1 AA3", "AA"},
      {1, {"vanish@FD#2"}, "", E::TIMED_OUT, 1, REPLY_TIMEOUT, "AD1 AA1 AB1 EF1 FG1 FD2",
       "FD 2/4 line failed"},
  };
  for (const Row& row : rows) {
    const std::string setting = row.setting;
    SCOPED_TRACE(std::to_string(row.files) + " file(s), " + setting + ", " +
                 std::to_string(row.faults.size()) + " fault(s)");
    fresh(row.faults);
    for (int i = 0; i < row.files; ++i) add_file(4);
    if (setting == "open-fails@start") line.port.fail_next_opens(1);
    line.on_request = [&](const std::string& request, int occurrence) {
      if (setting == "stop@" + request + "#" + std::to_string(occurrence)) stop_requested = 1;
      if (setting == "open-fails@" + request) line.port.fail_next_opens(1);
    };
    run();
    EXPECT_STREQ(end_name(result.end), end_name(row.end));
    EXPECT_EQ(result.file, row.file);
    EXPECT_EQ(result.reply, row.reply);
    EXPECT_EQ(line.counts(), row.counts);
    std::string failed = result.request;
    if (result.blocks != 0) failed += " " + std::to_string(result.block) + "/" + std::to_string(result.blocks);
    if (result.line_failed) failed += " line failed";
    if (result.end == E::TIMED_OUT && !result.answered) failed += " nothing answered";
    EXPECT_EQ(failed, row.failed.empty() && row.end == E::TIMED_OUT ? "AB" : row.failed);
  }
}

TEST_F(SequencerTest, MissingThirdFileSendsNothing) {
  add_file(4);
  add_file(4);
  std::strcpy(job.paths[job.entry_count++], (dir_ + "/missing.bin").c_str());
  run();
  EXPECT_EQ(result.end, DownloadEnd::FILE_OPEN_FAILED);
  EXPECT_EQ(result.file, 3);
  EXPECT_TRUE(line.port.opens().empty());
  EXPECT_TRUE(line.port.writes().empty());
  // One that grew past the largest image since it was checked is not read.
  line.reset();
  job.entry_count = 2;
  ASSERT_EQ(truncate(add_file(0).c_str(), 1025 * 2048), 0);
  download_.reset();
  run();
  EXPECT_EQ(result.end, DownloadEnd::FILE_READ_FAILED);
  EXPECT_EQ(result.file, 3);
  EXPECT_TRUE(line.port.opens().empty());
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
    fresh();
    const std::string path = add_file(8);
    line.on_request = [&](const std::string& request, int occurrence) {
      if (request == c.request && occurrence == c.occurrence) c.change(path);
    };
    run();  // checks that exactly the bytes checked at the start were received
    EXPECT_EQ(result.end, DownloadEnd::SUCCEEDED);
  }
}

TEST_F(SequencerTest, SecondRunStartsFromAClearedState) {
  fresh({"nak@FG"});
  add_file(4);
  run();
  EXPECT_EQ(result.end, DownloadEnd::REPLY_REJECTED);
  line.reset();
  run();
  EXPECT_EQ(result.end, DownloadEnd::SUCCEEDED);
  EXPECT_EQ(line.counts(), "AD1 AA1 AB1 EF1 FG1 FD4 FDEND1 AG1 RUN1");
}

// The campaign: random jobs of 1 to 3 files of 1 to 8 blocks, each with up
// to three random faults (kind, request, first occurrence, 1 to 4 in a row,
// the gap of a split) and perhaps a stop request in some file.
struct Schedule {
  std::vector<std::pair<int, std::uint32_t>> files;  // blocks, start address
  int speed_index = 4;
  int run_after = 1;
  std::vector<std::string> faults;  // as zp3ksim reads them
  std::string stop;                 // the stop comes as this request of file stop_file goes out
  int stop_file = 0;                // 0: no stop
};

std::string describe(const Schedule& s) {
  std::ostringstream out;
  out << "files";
  for (const auto& [blocks, address] : s.files) {
    out << " " << blocks << "@" << std::hex << address << std::dec;
  }
  out << ", speed " << s.speed_index << ", run request " << s.run_after << ", faults";
  for (const std::string& f : s.faults) out << " " << f;
  if (s.stop_file > 0) out << ", stop at " << s.stop << "#" << s.stop_file;
  return out.str();
}

// Seconds the downloader waits for the reply to each request.
int wait_of(const std::string& request) {
  if (request == "AB") return 10;
  if (request == "FG") return 60;
  if (request == "FD") return 30;
  if (request == "FDEND") return 35;
  return 1;
}

Schedule draw(std::mt19937& rng) {
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  static const char* const KINDS[] = {"nak",   "silent", "badbcc", "lower", "split",
                                      "other", "model",  "noise",  "vanish"};
  static const char* const REQUESTS[] = {"AD", "AA", "AB", "EF", "FG", "FD", "FDEND", "AG", "RUN"};
  static const char* const MODELS[] = {"30", "08", "10", "20", "3a", "G1"};
  static const std::uint32_t ADDRESSES[] = {0x8000, 0, 0x100000, 0x1F0000};
  Schedule s;
  for (int i = pick(1, 3); i > 0; --i) s.files.push_back({pick(1, 8), ADDRESSES[pick(0, 3)]});
  s.speed_index = pick(0, 4);
  s.run_after = pick(0, 1);
  for (int i = pick(0, 3); i > 0; --i) {
    const std::string kind = KINDS[pick(0, 8)];
    const std::string request = kind == "other" ? "AB" : kind == "model" ? "AD" : REQUESTS[pick(0, 8)];
    const int first = pick(1, request == "FD" ? 12 : 3);
    std::string fault = kind + "@" + request + "#" + std::to_string(first) + "-" +
                        std::to_string(first + pick(0, 3));
    // A gap of k started empty reads, k up to the first that outlasts the wait.
    const int reads = pick(1, (wait_of(request) + 2) / 3);
    if (kind == "split") fault += "," + std::to_string(3000 * (reads - 1) + pick(1, 3000));
    if (kind == "model") fault += std::string(",") + MODELS[pick(0, 5)];
    s.faults.push_back(fault);
  }
  s.stop_file = pick(0, static_cast<int>(s.files.size()));
  s.stop = pick(0, 1) ? "FG" : "FDEND";
  return s;
}

struct Expected {
  DownloadEnd end = DownloadEnd::SUCCEEDED;
  int file = 0;
  ReplyStatus reply = REPLY_OK;
  int ticks = 0;             // 1 after the mode, the reopening and each close, 3 after "AG"
  std::uint64_t ms = 0;      // virtual time: 3 s per empty or failed read, the pauses, the gaps
  std::map<std::string, int> requests;  // what the controller receives, by request
};

enum class Got { ACCEPTED, OTHER_MODE, BAD_MODEL, NO_EXTERNAL, TIMEOUT, NAK, BCC };

// What the downloader makes of a reply with this fault: "AD" and "AB" are
// judged by their BCC and content, the others by their first byte. Adds the
// time it waits: 3 s for each empty read, as many as fit in the request's
// wait when nothing comes, and one failed read once the device is gone.
Got got(const zp3ksim::Fault* f, const std::string& request, bool* vanished, std::uint64_t* ms) {
  const std::uint64_t wait_out = 3000u * static_cast<unsigned>((wait_of(request) + 2) / 3);
  if (*vanished) {
    *ms += 3000;
    return Got::TIMEOUT;
  }
  if (f == nullptr) return Got::ACCEPTED;
  const bool by_bcc = request == "AD" || request == "AB";
  switch (f->kind) {
    case zp3ksim::FaultKind::NAK: return by_bcc ? Got::ACCEPTED : Got::NAK;
    case zp3ksim::FaultKind::BAD_BCC:
    case zp3ksim::FaultKind::LOWER: return by_bcc ? Got::BCC : Got::ACCEPTED;
    case zp3ksim::FaultKind::SPLIT: {
      const int reads = (f->number + 2999) / 3000;
      *ms += wait_of(request) > 3 * reads ? 3000u * static_cast<unsigned>(reads) : wait_out;
      return wait_of(request) > 3 * reads ? Got::ACCEPTED : Got::TIMEOUT;
    }
    case zp3ksim::FaultKind::OTHER_MODE: return Got::OTHER_MODE;
    case zp3ksim::FaultKind::MODEL: {
      const std::string digits = "0123456789ABCDEF";
      const std::size_t high = digits.find(f->text[0]), low = digits.find(f->text[1]);
      if (high == std::string::npos || low == std::string::npos) return Got::BAD_MODEL;
      const std::size_t model = high * 16 + low;
      return (model & 0x30) == 0x30 || (model & 0x08) != 0 ? Got::ACCEPTED : Got::NO_EXTERNAL;
    }
    case zp3ksim::FaultKind::VANISH:
      *vanished = true;
      *ms += 3000;
      return Got::TIMEOUT;
    default:  // silent, or a reply that never ends
      *ms += wait_out;
      return Got::TIMEOUT;
  }
}

// How the schedule's run must end, from the rules of the protocol: "AD",
// "AA", "AB", "EF" and "AG" get three attempts (another mode costs none),
// the others one; the stop request is honoured after the file it came in.
Expected expect(const Schedule& s, const std::vector<zp3ksim::Fault>& faults) {
  Expected e;
  bool vanished = false;
  const int n = static_cast<int>(s.files.size());
  auto exchange = [&](const std::string& request, int file) {
    const bool retried = request != "FG" && request != "FD" && request != "FDEND";
    for (int failures = 0;;) {
      const int occurrence = ++e.requests[request];
      const Got g = got(zp3ksim::find_fault(faults, request, occurrence), request, &vanished, &e.ms);
      if (g == Got::ACCEPTED) return true;
      if (g == Got::OTHER_MODE) continue;
      e.file = file;
      if (g == Got::NO_EXTERNAL) {
        // Refused by the first entry bound for external flash; without one, accepted.
        auto external = std::find_if(s.files.begin(), s.files.end(),
                                     [](const auto& f) { return f.second >= 0x100000; });
        if (external == s.files.end()) return true;
        e.file = static_cast<int>(external - s.files.begin()) + 1;
      }
      if (g == Got::BAD_MODEL || g == Got::NO_EXTERNAL) {
        e.end = g == Got::BAD_MODEL ? DownloadEnd::BAD_MODEL : DownloadEnd::NO_EXTERNAL_FLASH;
        return false;
      }
      if (retried && ++failures < 3) continue;
      e.end = g == Got::TIMEOUT ? DownloadEnd::TIMED_OUT : DownloadEnd::REPLY_REJECTED;
      e.reply = g == Got::TIMEOUT ? REPLY_TIMEOUT : g == Got::NAK ? REPLY_NAK : REPLY_BCC;
      return false;
    }
  };
  auto pause = [&e](int seconds) {
    e.ticks += seconds;
    e.ms += 1000u * static_cast<unsigned>(seconds);
  };
  for (int file = 1; file <= n; ++file) {
    if (file == 1 && !exchange("AD", 1)) return e;
    if (!exchange("AA", file)) return e;
    pause(1);
    if (!exchange("AB", file) || !exchange("EF", file)) return e;
    e.ms += 1000;  // closed around the speed change
    pause(1);
    if (!exchange("FG", file)) return e;
    for (int block = 0; block < s.files[static_cast<std::size_t>(file - 1)].first; ++block) {
      if (!exchange("FD", file)) return e;
    }
    if (!exchange("FDEND", file) || !exchange("AG", file)) return e;
    pause(3);
    pause(1);  // after the close
    e.file = file;
    if (file == s.stop_file && file < n) {
      e.end = DownloadEnd::STOPPED;
      break;
    }
  }
  if (s.run_after != 0) e.requests["RUN"] = 1;  // its reply is not read
  return e;
}

// Runs one schedule; returns what is wrong with the run, empty when nothing.
std::string run_schedule(const Schedule& s, std::mt19937& rng, SimulatedLine& line,
                         DownloadResult* result) {
  line.reset(s.faults);
  DownloadJob job;
  std::strcpy(job.port_device, "/dev/fake");
  job.entry_count = static_cast<int>(s.files.size());
  job.speed_index = s.speed_index;
  job.run_after_download = s.run_after;
  auto images = std::make_shared<ImageSet>();
  std::vector<Bytes> files;
  for (int i = 0; i < job.entry_count; ++i) {
    std::snprintf(job.paths[i], sizeof job.paths[i], "file%d.bin", i + 1);
    job.start_addresses[i] = s.files[static_cast<std::size_t>(i)].second;
    Bytes& data = images->files[i];
    data.resize(static_cast<std::size_t>(s.files[static_cast<std::size_t>(i)].first) * 512);
    for (std::uint8_t& b : data) b = static_cast<std::uint8_t>(rng());
    files.push_back(data);
  }
  std::atomic<int> stop{0};
  line.on_request = [&](const std::string& request, int occurrence) {
    if (request == s.stop && occurrence == s.stop_file) stop = 1;
  };
  Download download(job, stop, line.port, line, line, images);
  line.clock.attach_countdown(&download.countdown());
  *result = download.run(line);
  std::ostringstream out;
  out << check_run(line, download, *result, files);
  std::vector<zp3ksim::Fault> faults(s.faults.size());
  std::string error;
  for (std::size_t i = 0; i < faults.size(); ++i) zp3ksim::parse_fault(s.faults[i], &faults[i], &error);
  const Expected e = expect(s, faults);
  if (result->end != e.end || result->file != e.file || result->reply != e.reply) {
    out << "ended " << end_name(result->end) << " file " << result->file << " reply " << result->reply
        << ", expected " << end_name(e.end) << " file " << e.file << " reply " << e.reply << "\n";
  }
  if (line.counts() != SimulatedLine::counts_of(e.requests)) {
    out << "requests " << line.counts() << ", expected " << SimulatedLine::counts_of(e.requests)
        << "\n";
  }
  if (line.ticks != e.ticks) out << line.ticks << " clock ticks, expected " << e.ticks << "\n";
  if (line.clock.now_ms() != e.ms) {
    out << line.clock.now_ms() << " ms of virtual time, expected " << e.ms << "\n";
  }
  return out.str();
}

unsigned from_environment(const char* name, unsigned otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : otherwise;
}

// Replay one failing schedule with SEQUENCER_CAMPAIGN_SEED=<its seed> SEQUENCER_CAMPAIGN_RUNS=1.
TEST(SequencerCampaign, RandomFaultsEndEachRunAsTheyAllow) {
  const unsigned first_seed = from_environment("SEQUENCER_CAMPAIGN_SEED", 20261207);
  const unsigned runs = from_environment("SEQUENCER_CAMPAIGN_RUNS", 5000);
  SimulatedLine line;
  std::map<std::string, int> ends;
  const auto start = std::chrono::steady_clock::now();
  for (unsigned i = 0; i < runs; ++i) {
    std::mt19937 rng(first_seed + i);
    const Schedule s = draw(rng);
    DownloadResult result;
    const std::string problems = run_schedule(s, rng, line, &result);
    if (!problems.empty()) {
      std::ostringstream tail;
      const std::size_t size = line.timeline.size();
      for (std::size_t k = size > 40 ? size - 40 : 0; k < size; ++k) {
        const testing::Entry& e = line.timeline[k];
        tail << "  " << e.at_ms << " ms, tick " << e.ticks << ": " << e.what << "\n";
      }
      ADD_FAILURE() << "schedule " << i + 1 << ", seed " << first_seed + i << ": " << describe(s)
                    << "\n" << problems << "the run's last events:\n" << tail.str();
      break;
    }
    ++ends[end_name(result.end)];
  }
  const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
  std::printf("campaign: %u schedules from seed %u in %.0f ms;", runs, first_seed, ms.count());
  for (const auto& [end, count] : ends) std::printf(" %s %d", end.c_str(), count);
  std::printf("\n");
}

}  // namespace
}  // namespace imgload
