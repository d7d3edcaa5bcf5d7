// Pieces of the Linux imgload: the file summary (header fields, checksum
// check, cp932 comment), the progress view's JSON events and glosses, the
// production log's lines and times, the trace file's hex and ASCII dump, the
// output queues (bounded, in order, never holding up the producer, the log
// never dropped), the output files refused, the advice on a port that did
// not open or did not answer, the listing of candidate ports, the command
// line and job files, the rows' checks of the header's base address and
// checksum, and the production loop's steps, board lines, status, summary,
// exit status and unit-id lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "image/sha256.h"
#include "imgload/download/messages.h"
#include "imgload/download/status_line.h"
#include "imgload/link/frame.h"
#include "imgload/cli/command_line.h"
#include "imgload/cli/job_file.h"
#include "imgload/cli/job_rows.h"
#include "imgload/cli/loop_ports.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/output_queue.h"
#include "imgload/cli/advice.h"
#include "imgload/cli/port_list.h"
#include "imgload/cli/production_log.h"
#include "imgload/cli/production_loop.h"
#include "imgload/cli/terminal_view.h"
#include "imgload/cli/trace_file.h"

namespace imgload {
namespace {

void put32(std::vector<std::uint8_t>& d, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The worked example of the image format: one block, data 11 22 33 44 at
// offset 256, version 1.00, comment "abc", base 0x100000.
std::vector<std::uint8_t> example_image() {
  std::vector<std::uint8_t> d(2048, 0xFF);
  put32(d, 0, 0x12345678);
  put32(d, 4, 2036);
  put32(d, 8, 0xBBBF4871);
  put32(d, 16, 0x100000);
  put32(d, 20, 2048);
  d[24] = 0x01;
  d[25] = 0x00;
  std::memcpy(&d[32], "abc", 4);
  d[256] = 0x11;
  d[257] = 0x22;
  d[258] = 0x33;
  d[259] = 0x44;
  return d;
}

// The summary of an image's bytes, as the front end shows it from the
// bytes it checked.
image::ImageSummary summary_of(const std::vector<std::uint8_t>& d) {
  return image::summarize_image(d.data(), d.size());
}

TEST(ImageInfoTest, ReadsTheHeaderAndVerifiesTheChecksum) {
  const image::ImageSummary info = summary_of(example_image());
  EXPECT_TRUE(info.magic_ok);
  EXPECT_EQ(image::format_version_text(info.header.version), "1.00");
  EXPECT_EQ(image::cp932_to_utf8(info.header.comment), "abc");
  EXPECT_EQ(info.header.base_address, 0x100000u);
  EXPECT_EQ(info.header.size, 2048u);
  EXPECT_TRUE(info.checksum_verifies());
  EXPECT_EQ(info.check_value, 0x1234518Cu) << "magic XOR length";
}

TEST(ImageInfoTest, AChangedByteFailsTheChecksum) {
  std::vector<std::uint8_t> d = example_image();
  d[1000] = 0x00;
  const image::ImageSummary info = summary_of(d);
  EXPECT_TRUE(info.magic_ok);
  EXPECT_FALSE(info.checksum_verifies());
}

TEST(ImageInfoTest, VersionSuffixAndCp932Comment) {
  std::vector<std::uint8_t> d = example_image();
  d[24] = 0xA1;
  d[25] = 0x23;
  const unsigned char demo[] = {0x83, 0x66, 0x83, 0x82, 0x0D, 0x0A, 0x41, 0x00};  // デモ CR LF A
  std::memcpy(&d[32], demo, sizeof demo);
  const image::ImageSummary info = summary_of(d);
  EXPECT_EQ(image::format_version_text(info.header.version), "1.23_A");
  EXPECT_EQ(image::cp932_to_utf8(info.header.comment), "デモ\r\nA");
  EXPECT_FALSE(info.checksum_verifies()) << "the checksum was not made again";
}

TEST(ImageInfoTest, AFileWithoutHeaderIsReportedSo) {
  const image::ImageSummary info = summary_of(std::vector<std::uint8_t>(2048, 0));
  EXPECT_FALSE(info.magic_ok);
  EXPECT_FALSE(info.checksum_verifies());
}

DownloadResult ended_with(DownloadEnd end) {
  DownloadResult result;
  result.end = end;
  return result;
}

// What a sink was given, shared with the test.
struct Written {
  std::mutex mutex;
  std::condition_variable changed;
  std::string text;
  int writes_begun = 0;
  bool released = true;  // false: every write waits, as on a pipe nobody reads
  std::string get() {
    std::lock_guard<std::mutex> lock(mutex);
    return text;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    changed.notify_all();
  }
  // Until the channel's thread is inside a write (the queue is then empty).
  void wait_for_write() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return writes_begun > 0; });
  }
};

class RecordingSink : public OutputSink {
 public:
  explicit RecordingSink(std::shared_ptr<Written> to) : to_(std::move(to)) {}
  bool write(const std::string& text, std::string*) override {
    std::unique_lock<std::mutex> lock(to_->mutex);
    ++to_->writes_begun;
    to_->changed.notify_all();
    to_->changed.wait(lock, [&] { return to_->released; });
    to_->text += text;
    return true;
  }

 private:
  std::shared_ptr<Written> to_;
};

const auto LONG_ENOUGH = std::chrono::seconds(30);  // a bound never reached by a working queue

std::unique_ptr<OutputSink> sink_on(const std::shared_ptr<Written>& written, bool held) {
  written->released = !held;
  return std::make_unique<RecordingSink>(written);
}

// A channel and what it wrote; held: its writes wait until released.
struct Captured {
  explicit Captured(std::size_t limit = STANDARD_QUEUE_LIMIT, bool held = false)
      : written(std::make_shared<Written>()), channel(sink_on(written, held), limit) {}
  std::string text() {
    written->release();
    channel.drain(OutputClock::now() + LONG_ENOUGH);
    return written->get();
  }
  std::shared_ptr<Written> written;
  OutputChannel channel;
};

std::string captured(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  return out;
}

TEST(TerminalViewTest, JsonEventsCarryTextGlossAndProgress) {
  Captured f;
  Terminal terminal(ViewStyle::JSON, f.channel, f.channel);
  TerminalView view(terminal);
  TerminalView tagged(terminal, "/dev/b", 1);
  view.run_started(1);
  view.file_started(1, "/x/a \"b\".bin", 4);
  for (std::uint32_t i = 1; i <= 4; ++i) view.block_sent(i, 4);
  view.file_sent(1);
  view.ended(ended_with(DownloadEnd::TIMED_OUT));
  tagged.ended(ended_with(DownloadEnd::SUCCEEDED));  // several ports: each event names its port
  const std::string out = f.text();
  EXPECT_NE(out.find("{\"event\":\"file\",\"label\":\"No.1\",\"number\":1,\"path\":\"/x/a \\\"b\\\".bin\","
                     "\"time\":\""),
            std::string::npos)
      << out;
  // The maximum is the file's blocks; the progress is whole once the last is accepted.
  EXPECT_NE(out.find("\"position\":3,\"maximum\":4,\"blocks_sent\":3,\"blocks\":4"), std::string::npos) << out;
  EXPECT_NE(out.find("\"position\":4,\"maximum\":4,\"blocks_sent\":4,\"blocks\":4"), std::string::npos) << out;
  EXPECT_EQ(out.find("\"maximum\":5"), std::string::npos) << out;
  EXPECT_NE(out.find("{\"event\":\"status\",\"text\":\"通信エラー\\n(タイムアウトエラー)\","
                     "\"gloss\":\"communication error (timeout)\",\"time\":\""),
            std::string::npos)
      << out;
  // One event per line, each with its time last (UTC, milliseconds).
  const std::regex stamped(R"(\{.*,"time":"20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\dZ"\})");
  std::istringstream lines(out);
  std::string line;
  int events = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    ++events;
  }
  EXPECT_NE(out.find("{\"port\":\"/dev/b\",\"event\":\"status\",\"text\":\"ダウンロード正常終了\""),
            std::string::npos)
      << out;
  EXPECT_EQ(events, 1 + 5 + 1 + 1);
}

TEST(TerminalViewTest, PlainLinesShowStatusWithGlossOnOneLine) {
  Captured f;
  Terminal terminal(ViewStyle::LINES, f.channel, f.channel);
  TerminalView view(terminal);
  TerminalView named(terminal, "/dev/b", 1);
  view.ended(ended_with(DownloadEnd::SUCCEEDED));
  view.ended(ended_with(DownloadEnd::PORT_OPEN_FAILED));
  named.file_started(2, "", 4);
  const std::string out = f.text();
  EXPECT_EQ(out,
            "ダウンロード正常終了 [download completed normally]\n"
            "通信エラー (COMポートオープンエラー) [communication error (COM port open error)]\n"
            "[/dev/b] No.2 \n");
}

TEST(TerminalViewTest, RefusalTextWithRowNumberKeepsItsGloss) {
  StatusText refusal;
  refusal.kind = StatusText::NO_EXTERNAL_FLASH;
  refusal.entry = 2;
  EXPECT_EQ(status_text(refusal), std::string(message_text(MSG_NO_EXTERNAL_FLASH)) + "(No.2)");
  EXPECT_STREQ(status_gloss(refusal), message_gloss(MSG_NO_EXTERNAL_FLASH));
  StatusText beyond;
  beyond.row = STATUS_ROW_COUNT;
  EXPECT_STREQ(status_gloss(beyond), "");
  EXPECT_EQ(json_string("a\x01\t"), "\"a\\u0001\\t\"");
}

std::chrono::system_clock::time_point at_ms(long long ms) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

TEST(ProductionLogTest, TimesAreUtcWithMilliseconds) {
  const struct {
    long long ms;  // since 1970-01-01T00:00:00Z
    const char* text;
  } rows[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {951868800000, "2000-03-01T00:00:00.000Z"},
      {1709251199999, "2024-02-29T23:59:59.999Z"},
      {1796681604123, "2026-12-07T22:13:24.123Z"},
  };
  for (const auto& r : rows) EXPECT_EQ(utc_time_text(at_ms(r.ms)), r.text) << r.ms;
}

// A port's line: every field in order, the file's digest of its bytes, the
// header's version and comment (empty without a header), a path that is not
// UTF-8 also as its bytes, the model as its two digits or null.
TEST(ProductionLogTest, OneLinePerPortWithTheFilesSent) {
  const std::vector<std::uint8_t> image = example_image();
  const std::vector<std::uint8_t> bare(2048, 0);
  const ProductionLog log("unused.log", {logged_file("/x/a.bin", image, summary_of(image), 0x8000),
                                         logged_file("/x/b\xff.bin", bare, summary_of(bare), 0)});
  PortRecord r;
  r.time_start = at_ms(1796681604123);
  r.time_end = at_ms(1796681610000);
  r.port = "/dev/ttyUSB0";
  r.outcome = {"通信エラー\n(受信データエラー)", "communication error (received data error)", 9};
  const std::string host = "\"host\":" + json_string(host_name());
  const std::string files =
      "\"files\":[{\"path\":\"/x/a.bin\",\"size\":2048,\"sha256\":\"" +
      zp3k::sha256_hex(image.data(), image.size()) +
      "\",\"version\":\"1.00\",\"comment\":\"abc\",\"start_address\":32768},"
      "{\"path\":\"/x/b\\ufffd.bin\",\"path_hex\":\"2f782f62ff2e62696e\",\"size\":2048,"
      "\"sha256\":\"e5a00aa9991ac8a5ee3109844d84a55583bd20572ad3ffcd42792f3c36b183ad\","
      "\"version\":\"\",\"comment\":\"\",\"start_address\":0}]";
  EXPECT_EQ(log.line(r), "{\"time_start\":\"2026-12-07T22:13:24.123Z\",\"time_end\":\"2026-12-07T22:13:30.000Z\"," +
                             host + ",\"port\":\"/dev/ttyUSB0\",\"exit_status\":9,"
                             "\"text\":\"通信エラー\\n(受信データエラー)\","
                             "\"gloss\":\"communication error (received data error)\"," +
                             files + ",\"model\":null,\"tool\":\"imgload 1.1.0\"}");
  r.model = 0x3A;
  EXPECT_NE(log.line(r).find(",\"model\":\"3A\",\"tool\""), std::string::npos);
  // A board of the loop: its unit after the port, and its unit id or null.
  r.unit = 18;
  EXPECT_NE(log.line(r).find("\"port\":\"/dev/ttyUSB0\",\"unit\":18,\"unit_id\":null,\"exit_status\":9,"),
            std::string::npos)
      << log.line(r);
  r.unit_id = "SN \"7\"";
  EXPECT_NE(log.line(r).find("\"unit\":18,\"unit_id\":\"SN \\\"7\\\"\",\"exit_status\""), std::string::npos)
      << log.line(r);
}

TEST(TraceFileTest, WritesFramesInHexAndAscii) {
  char name[] = "/tmp/traceXXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    TraceFile trace;
    std::string refusal;
    ASSERT_TRUE(trace.open(name, &refusal)) << refusal;
    trace.port_opened("/dev/x", 9600, true);
    const std::uint8_t ad[] = {0x05, '0', '0', 'F', 'F', 'A', 'D', '0', '0', 0x0D};
    trace.frame_sent(ad, sizeof ad);
    trace.reply_read(ad, 3, REPLY_TIMEOUT);
    trace.port_closed();
  }
  std::ifstream in(name);
  const std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(name);
  EXPECT_NE(out.find("open /dev/x at 9600 bit/s: ok"), std::string::npos) << out;
  EXPECT_NE(out.find("sent AD, 10 bytes"), std::string::npos) << out;
  EXPECT_NE(out.find(" 05 30 30 46 46 41 44 30 30 0D"), std::string::npos) << out;
  EXPECT_NE(out.find("|.00FFAD00.|"), std::string::npos) << out;
  EXPECT_NE(out.find("received 3 bytes: timed out"), std::string::npos) << out;
  EXPECT_NE(out.find("close"), std::string::npos) << out;
}

TEST(PortAdviceTest, NamesTheDeviceTheReasonAndTheWayOut) {
  using zp3k::Result;
  struct Case {
    zp3k::Status why;
    long holder;
    const char* text;
  } cases[] = {
      {{Result::NO_ACCESS, EACCES}, 0, "/dev/ttyUSB0: Permission denied: add your user to the dialout group "
                                       "(sudo usermod -aG dialout $USER), then log in again"},
      {{Result::NOT_FOUND, ENOENT}, 0, "/dev/ttyUSB0: No such file or directory: see imgload --list-ports"},
      {{Result::NOT_FOUND, ENXIO}, 0, "/dev/ttyUSB0: No such device or address: see imgload --list-ports"},
      {{Result::WRONG_KIND, ENOTTY}, 0, "/dev/ttyUSB0: Inappropriate ioctl for device: not a serial device"},
      {{Result::IN_USE, EBUSY}, 4242, "/dev/ttyUSB0: Device or resource busy: in use by process 4242"},
      {{Result::IN_USE, EWOULDBLOCK}, 0,
       "/dev/ttyUSB0: Resource temporarily unavailable: in use by another program"},
      {{Result::FAILED, EIO}, 0, "/dev/ttyUSB0: Input/output error"},
      {{Result::FAILED, 0}, 0, "/dev/ttyUSB0: cannot open"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(advice_text(port_open_advice("/dev/ttyUSB0", c.why, c.holder)), c.text);
  }
}

// Each end of a run says what failed: the device that did not open or went
// away, the request (and block) whose reply failed and how, with a way out.
TEST(PortAdviceTest, EachEndNamesWhatFailedAndWhatToTry) {
  const std::string line_hint =
      ": check the cable and the connectors, keep the line away from noise, or try a lower --speed";
  struct Row {
    DownloadEnd end;
    const char* request;
    std::uint32_t block, blocks;
    ReplyStatus reply;
    bool answered, line_failed;
    int file, files;
    std::string text;
  } rows[] = {
      {DownloadEnd::TIMED_OUT, "AD", 0, 0, REPLY_TIMEOUT, false, false, 1, 1,
       "nothing answered on /dev/a: check the controller's power, the cable and the port"},
      {DownloadEnd::TIMED_OUT, "AA", 0, 0, REPLY_TIMEOUT, true, false, 2, 3,
       "No.2: no reply in time to the mode request (\"AA\")"},
      {DownloadEnd::TIMED_OUT, "FD", 2, 4, REPLY_TIMEOUT, true, true, 1, 1,
       "/dev/a went away during the data request (\"FD\") for block 2 of 4 (the device is gone or "
       "hung up): check that it is plugged in and the controller powered; see --list-ports"},
      {DownloadEnd::REPLY_REJECTED, "FD", 3, 8, REPLY_NAK, true, false, 2, 2,
       "No.2: the controller refused the data request (\"FD\") for block 3 of 8 with NAK" + line_hint},
      {DownloadEnd::REPLY_REJECTED, "FD", 0, 8, REPLY_NAK, true, false, 1, 1,
       "the controller refused the end request (\"FD\") after all 8 blocks with NAK" + line_hint},
      {DownloadEnd::REPLY_REJECTED, "AB", 0, 0, REPLY_BCC, true, false, 1, 1,
       "the reply to the mode query (\"AB\") was damaged (its BCC is wrong)" + line_hint},
      {DownloadEnd::BAD_MODEL, "AD", 0, 0, REPLY_OK, true, false, 1, 1,
       "the model reply (\"AD\") on /dev/a holds no valid model information: check that a ZP3K "
       "controller is on this port"},
      {DownloadEnd::SUCCEEDED, "", 0, 0, REPLY_OK, true, false, 1, 1, ""},
      {DownloadEnd::NO_EXTERNAL_FLASH, "AD", 0, 0, REPLY_OK, true, false, 1, 1, ""},
  };
  for (const Row& r : rows) {
    DownloadResult result = ended_with(r.end);
    std::strcpy(result.request, r.request);
    result.block = r.block;
    result.blocks = r.blocks;
    result.reply = r.reply;
    result.answered = r.answered;
    result.line_failed = r.line_failed;
    result.file = r.file;
    result.files = r.files;
    EXPECT_EQ(advice_text(end_advice(result, "/dev/a", 0)), r.text);
  }
  DownloadResult result = ended_with(DownloadEnd::PORT_OPEN_FAILED);
  result.port_status = {zp3k::Result::NOT_FOUND, ENOENT};
  const Advice advice = end_advice(result, "/dev/b", 0);
  EXPECT_EQ(advice.detail, "/dev/b: No such file or directory");
  EXPECT_EQ(advice.hint, "see imgload --list-ports");
}

// Every end of a download has its documented exit status; a stop that left
// files unsent says how many went, under the dialog's success text.
TEST(OutcomeTest, ExitStatusOfEachEnd) {
  const struct {
    DownloadEnd end;
    int file, files;
    int status;
    const char* gloss;  // null: the status row's
  } rows[] = {
      {DownloadEnd::SUCCEEDED, 2, 2, 0, nullptr},
      {DownloadEnd::STOPPED, 1, 3, 3, "stopped after file 1 of 3"},
      {DownloadEnd::STOPPED, 3, 3, 0, "download completed normally"},
      {DownloadEnd::TIMED_OUT, 1, 1, 5, nullptr},
      {DownloadEnd::FILE_OPEN_FAILED, 1, 1, 7, nullptr},
      {DownloadEnd::FILE_READ_FAILED, 1, 1, 8, nullptr},
      {DownloadEnd::REPLY_REJECTED, 1, 1, 9, nullptr},
      {DownloadEnd::BAD_MODEL, 1, 1, 9, nullptr},
      {DownloadEnd::PORT_OPEN_FAILED, 1, 1, 10, nullptr},
      {DownloadEnd::NO_EXTERNAL_FLASH, 2, 2, 15, nullptr},
  };
  for (const auto& r : rows) {
    DownloadResult result = ended_with(r.end);
    result.file = r.file;
    result.files = r.files;
    const Outcome o = outcome_of(result);
    const std::string label = std::to_string(static_cast<int>(r.end)) + " " + std::to_string(r.file) +
                              "/" + std::to_string(r.files);
    EXPECT_EQ(o.exit_status, r.status) << label;
    EXPECT_EQ(o.text, status_text(status_for(result))) << label;
    EXPECT_EQ(o.gloss, r.gloss != nullptr ? r.gloss : status_gloss(status_for(result))) << label;
  }
}

// What a command line asks for, as the tables write it: ports, speed,
// flags, settings and files (FILE@ADDRESS, or FILE for the header's base),
// or the problem of a refused one.
std::string seen_in(const CommandLine& c) {
  std::string seen = c.problem;
  if (c.action != Action::RUN) return seen;
  const Arguments& a = c.arguments;
  for (const std::string& d : a.devices) seen += d + " ";
  seen += std::string(SPEED_TEXTS[a.speed_index]) + (a.run_after ? " run" : "") +
          (a.quiet ? " quiet" : "") + (a.verbose ? " verbose" : "") + (a.json ? " json" : "") +
          (a.dry_run ? " dry-run" : "") + (a.allow_bad_checksum ? " allow-bad-checksum" : "");
  if (!a.log.empty()) seen += " log=" + a.log;
  if (!a.trace.empty()) seen += " trace=" + a.trace;
  seen += std::string(a.repeat ? " repeat" : "") +
          (a.repeat_count != 0 ? " count=" + std::to_string(a.repeat_count) : "") +
          (a.ask_unit_id ? " ask-unit-id" : "");
  for (int i = 0; i < a.count; ++i) seen += " " + a.files[i] + (a.has_address[i] ? "@" + a.addresses[i] : "");
  return seen;
}

// The command line "imgload WORDS...", read as main reads it.
CommandLine read_words(const std::vector<std::string>& given, JobLoader load_job = load_job_file) {
  std::vector<std::string> words = {"imgload"};
  words.insert(words.end(), given.begin(), given.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  return read_command_line(static_cast<int>(words.size()), argv.data(), load_job);
}

// The command line as getopt_long reads it: what each set of words asks for,
// or why it is refused before anything is opened.
TEST(CommandLineTest, WordsAskForARunOrAreRefusedWithTheirReason) {
  const struct {
    std::vector<std::string> words;
    Action action;
    std::string seen;  // RUN: ports, speed, flags and files; REFUSED: the problem
  } rows[] = {
      {{"a.bin"}, Action::RUN, DEFAULT_PORT_DEVICE + std::string(" 115200 run a.bin")},
      {{"-p", "/dev/x", "-b", "9600", "--no-run", "-q", "a.bin@0100000", "b.bin"}, Action::RUN,
       "/dev/x 9600 quiet a.bin@0100000 b.bin"},
      {{"--port=/dev/x", "--port", "/dev/y", "--speed", "57600", "-v", "--json", "--", "-c.bin"},
       Action::RUN, "/dev/x /dev/y 57600 run verbose json -c.bin"},
      {{"-p", "/dev/x", "a.bin@", "--dry-run", "--allow-bad-checksum"}, Action::RUN,
       "/dev/x 115200 run dry-run allow-bad-checksum a.bin@"},
      {{"-p", "/dev/x", "--repeat", "--count", "12", "--ask-unit-id", "a.bin"}, Action::RUN,
       "/dev/x 115200 run repeat count=12 ask-unit-id a.bin"},
      {{"--count", "2", "a.bin"}, Action::REFUSED, "--count needs --repeat (repeat = true)"},
      {{"--ask-unit-id", "a.bin"}, Action::REFUSED,
       "--ask-unit-id (ask_unit_id) needs --repeat (repeat = true)"},
      {{"--count", "0", "--repeat", "a.bin"}, Action::REFUSED,
       "--count takes a number of boards, 1 or more: 0"},
      {{"--count", "3x", "a.bin"}, Action::REFUSED, "--count takes a number of boards, 1 or more: 3x"},
      {{"--count", "-1", "a.bin"}, Action::REFUSED, "--count takes a number of boards, 1 or more: -1"},
      {{"--count", "99999999999", "a.bin"}, Action::REFUSED,
       "--count takes a number of boards, 1 or more: 99999999999"},
      {{"--job", "a.toml", "--job", "b.toml"}, Action::REFUSED, "a job file given twice"},
      {{"-p", "/dev/x"}, Action::REFUSED, "no image file given"},
      {{}, Action::REFUSED, "no image file given"},
      {{"-b", "4800", "a.bin"}, Action::REFUSED,
       "unsupported speed 4800: the speeds are 9600, 19200, 38400, 57600 or 115200 bit/s"},
      {{"-x", "a.bin"}, Action::REFUSED, "unknown option -x"},
      {{"--bogus", "a.bin"}, Action::REFUSED, "unknown option --bogus"},
      {{"a.bin", "-p"}, Action::REFUSED, "missing value for -p"},
      {{"a.bin", "b.bin", "c.bin", "d.bin"}, Action::REFUSED, "at most three files"},
      {{"-p", "/dev/x", "-p", "/dev/x", "a.bin"}, Action::REFUSED, "a port given twice: /dev/x"},
      {{"-q", "-v", "a.bin"}, Action::REFUSED, "--quiet and --verbose together"},
      {{"a.bin", "--help"}, Action::HELP, ""},
      {{"--version", "--bogus"}, Action::VERSION, ""},
      {{"--list-ports"}, Action::LIST_PORTS, ""},
  };
  for (const auto& r : rows) {
    const CommandLine c = read_words(r.words);
    EXPECT_EQ(static_cast<int>(c.action), static_cast<int>(r.action)) << testing::PrintToString(r.words);
    EXPECT_EQ(seen_in(c), r.seen);
  }
}

// The job files of JobFileTest's command lines, by name; a name not here
// cannot be read.
bool load_test_job(const std::string& path, Arguments* a, std::string* problem) {
  const struct {
    const char* name;
    const char* text;
  } jobs[] = {
      {"/j/line.toml",
       "ports = [\"/dev/x\", \"/dev/y\"]\nspeed = 9600\nrun = false\nlog = \"line.log\"\n"
       "repeat = true\ncount = 4\n"
       "[[files]]\npath = \"a.bin\"\naddress = \"0100000\"\n[[files]]\npath = \"b.bin\"\n"},
      {"/j/broken.toml", "speed = 57600\nspeed = 9600\n"},
      {"/j/once.toml", "ports = [\"/dev/x\"]\ncount = 3\n[[files]]\npath = \"a.bin\"\n"},
      {"/j/ids.toml", "ask_unit_id = true\n[[files]]\npath = \"a.bin\"\n"},
  };
  for (const auto& job : jobs) {
    if (path == job.name) return read_job_text(job.text, path, a, problem);
  }
  *problem = "cannot read the job file " + path;
  return false;
}

// --job under the command line: a --port replaces the job's ports, a file
// word its files, an option its value; what is not given stays the job's.
TEST(JobFileTest, TheCommandLineOverridesTheJob) {
  const struct {
    std::vector<std::string> words;
    std::string seen;
  } rows[] = {
      {{"--job", "/j/line.toml"},
       "/dev/x /dev/y 9600 log=/j/line.log repeat count=4 /j/a.bin@0100000 /j/b.bin"},
      {{"--job", "/j/line.toml", "--port", "/dev/z", "-b", "57600", "--count", "2", "c.bin@0008000"},
       "/dev/z 57600 log=/j/line.log repeat count=2 c.bin@0008000"},
      {{"--log", "other.log", "--job=/j/line.toml", "--dry-run", "--json"},
       "/dev/x /dev/y 9600 json dry-run log=other.log repeat count=4 /j/a.bin@0100000 /j/b.bin"},
      {{"--job", "/j/none.toml"}, "cannot read the job file /j/none.toml"},
      {{"--job", "/j/broken.toml", "a.bin"}, "/j/broken.toml:2:9: Error while parsing key-value pair: "
                                              "cannot redefine existing integer 'speed'"},
      {{"--job", "/j/line.toml", "--port", "/dev/x", "--port", "/dev/x"}, "a port given twice: /dev/x"},
      // A job's count without its repeat is a single run; a count or unit
      // ids asked for without a repeat are refused.
      {{"--job", "/j/once.toml"}, "/dev/x 115200 run count=3 /j/a.bin"},
      {{"--job", "/j/once.toml", "--count", "2"}, "--count needs --repeat (repeat = true)"},
      {{"--job", "/j/once.toml", "--repeat", "--ask-unit-id"},
       "/dev/x 115200 run repeat count=3 ask-unit-id /j/a.bin"},
      {{"--job", "/j/ids.toml"}, "--ask-unit-id (ask_unit_id) needs --repeat (repeat = true)"},
  };
  for (const auto& r : rows) {
    const CommandLine c = read_words(r.words, load_test_job);
    EXPECT_EQ(seen_in(c), r.seen) << testing::PrintToString(r.words);
  }
}

// Job texts read on their own: every key into Arguments, paths taken from
// the job's folder (absolute ones as they are), and each error with the
// file, line and column of what is wrong, the earliest in the text first.
TEST(JobFileTest, EveryKeyAndEachErrorWithItsPlace) {
  const struct {
    const char* path;
    std::string text;
    std::string seen;  // as seen_in writes a run, or the problem
  } rows[] = {
      {"/srv/jobs/line.toml",
       "# every key\nports = [\"/dev/x\", \"/dev/y\"]\nspeed = 19200\nrun = false\n"
       "log = \"logs/line.log\"\ntrace = \"/var/tmp/t.txt\"\nrepeat = true\ncount = 25\n"
       "ask_unit_id = true\nallow_bad_checksum = true\n"
       "[[files]]\npath = \"boot.bin\"\naddress = \"0008000\"\n"
       "[[files]]\npath = \"../fw/app.bin\"\n"
       "[[files]]\npath = \"/abs/data.bin\"\naddress = \"0000000_A\"\n",
       "/dev/x /dev/y 19200 allow-bad-checksum log=/srv/jobs/logs/line.log trace=/var/tmp/t.txt "
       "repeat count=25 ask-unit-id /srv/jobs/boot.bin@0008000 /srv/jobs/../fw/app.bin "
       "/abs/data.bin@0000000_A"},
      {"line.toml", "run = true\nrepeat = false\n[[files]]\npath = \"a.bin\"\naddress = \"\"\n",
       "115200 run a.bin@"},
      {"/j/p.toml", "speed = \n", "/j/p.toml:1:9: Error while parsing key-value pair: expected value, saw '\\n'"},
      {"/j/p.toml", "ports = [\"/dev/x\"\n", "/j/p.toml:1:19: "},
      {"/j/p.toml", "[[files]]\npath = \"a.bin\"\nsped = 9600\n",
       "/j/p.toml:3:1: unknown key \"sped\" in [[files]] (the keys: path, address)"},
      {"/j/p.toml", "sped = 9600\n", "/j/p.toml:1:1: unknown key \"sped\" (the keys: ports, speed, run, "
                                      "log, trace, repeat, count, ask_unit_id, allow_bad_checksum, [[files]])"},
      {"/j/p.toml", "zzz = 1\ncount = 0\n", "/j/p.toml:1:1: unknown key \"zzz\""},
      {"/j/p.toml", "run = \"yes\"\n", "/j/p.toml:1:7: run must be true or false, not a string"},
      {"/j/p.toml", "speed = \"9600\"\n", "/j/p.toml:1:9: speed must be an integer (bit/s), not a string"},
      {"/j/p.toml", "speed = 4800\n",
       "/j/p.toml:1:9: unsupported speed 4800: the speeds are 9600, 19200, 38400, 57600 or 115200 bit/s"},
      {"/j/p.toml", "count = 0\n", "/j/p.toml:1:9: count must be 1 or more (boards), not 0"},
      {"/j/p.toml", "ports = [\"/dev/x\", 3]\n", "/j/p.toml:1:20: a port must be a string, not an integer"},
      {"/j/p.toml", "ports = []\n", "/j/p.toml:1:9: ports is empty: give one port or more"},
      {"/j/p.toml", "ports = [\"/dev/x\", \"/dev/x\"]\n", "/j/p.toml:1:20: a port given twice: /dev/x"},
      {"/j/p.toml", "log = \"\"\n", "/j/p.toml:1:7: log is empty"},
      {"/j/p.toml", "trace = \"a\\u0000b\"\n", "/j/p.toml:1:9: trace holds a NUL character"},
      {"/j/p.toml",
       "[[files]]\npath = \"1.bin\"\n[[files]]\npath = \"2.bin\"\n[[files]]\npath = \"3.bin\"\n"
       "[[files]]\npath = \"4.bin\"\n",
       "/j/p.toml:7:1: a fourth [[files]]: a job sends one to three images"},
      {"/j/p.toml", "[[files]]\naddress = \"0008000\"\n", "/j/p.toml:1:1: a [[files]] table without path"},
      {"/j/p.toml", "[[files]]\npath = \"a.bin\"\naddress = 0x8000\n",
       "/j/p.toml:3:11: address must be a string (as @ADDRESS takes it), not an integer"},
      {"/j/p.toml", "files = \"a.bin\"\n", "/j/p.toml:1:9: files must be [[files]] tables, not a string"},
      // Outside strings and comments a character beyond ASCII is an error at
      // its place; inside them (paths, comments in Japanese) it is text.
      {"/j/p.toml", "# 生産ライン \"\nlog = '''a\n\"\"\"\nÜ.log'''\n[[files]]\npath = \"Ünï 한글/a\\\".bin\"\n",
       "115200 run log=/j/a\n\"\"\"\nÜ.log /j/Ünï 한글/a\".bin"},
      {"/j/p.toml", "speed = 9600\nrun = trueあ\n", "/j/p.toml:2:11:"},
      {"/j/p.toml", "log = \"\"\"x\"\"\"\"\" ʃ = 1\n", "/j/p.toml:1:"},
  };
  for (const auto& r : rows) {
    Arguments a;
    std::string problem;
    const bool read = read_job_text(r.text, r.path, &a, &problem);
    CommandLine c;
    c.arguments = a;
    c.problem = problem;
    c.action = read ? Action::RUN : Action::REFUSED;
    const std::string seen = seen_in(c);
    // An error is compared by its start: toml++ words its syntax errors.
    EXPECT_EQ(read ? seen : seen.substr(0, r.seen.size()), r.seen) << r.text;
    EXPECT_EQ(read, problem.empty());
  }
  EXPECT_EQ(folder_of("/srv/jobs/line.toml"), "/srv/jobs/");
  EXPECT_EQ(folder_of("line.toml"), "");
  EXPECT_TRUE(is_absolute_path("/a.bin"));
  EXPECT_FALSE(is_absolute_path("a/b.bin"));
}

// An image file of the table's rows, written under the test's folder.
class ImageFolder {
 public:
  ImageFolder() {
    char pattern[] = "/tmp/frontendXXXXXX";
    dir_ = mkdtemp(pattern) != nullptr ? pattern : "";
  }
  ~ImageFolder() {
    for (const std::string& f : written_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }
  std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir_ + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    written_.push_back(path);
    return path;
  }

 private:
  std::string dir_;
  std::vector<std::string> written_;
};

// The example image with another base address and its checksum made again.
std::vector<std::uint8_t> image_at(std::uint32_t base) {
  std::vector<std::uint8_t> d = example_image();
  put32(d, 16, base);
  put32(d, 8, image::xor_words(d.data() + 12, d.size() - 12));
  return d;
}

// A file without @ADDRESS goes to its header's base when the address field
// takes it; a base it does not take, or no header at all, is refused (12)
// with what to give instead. A header that does not verify is refused (16)
// with both checksums, or sent with --allow-bad-checksum and a warning.
TEST(JobRowsTest, TheHeaderGivesTheAddressAndMustVerify) {
  ImageFolder folder;
  std::vector<std::uint8_t> damaged = image_at(0x8000);
  damaged[1000] ^= 0x01;  // its checksum 0x.. no longer what the bytes give
  std::vector<std::uint8_t> grown = image_at(0x8000);
  grown.resize(4096, 0xFF);  // a block of 0xFF words: the checksum holds, the size does not
  const struct {
    std::vector<std::uint8_t> bytes;
    const char* address;  // nullptr: none given
    bool allow_bad_checksum;
    int exit_status;      // 0: accepted
    std::uint32_t start;  // accepted: where it goes
    std::string detail;   // refused: the advice; accepted: the warnings' kinds
  } rows[] = {
      {image_at(0x100000), nullptr, false, 0, 0x100000, ""},
      {image_at(0x8000), nullptr, false, 0, 0x8000, ""},
      {image_at(0), nullptr, false, 0, 0, ""},
      {image_at(0x8000), "0100000", false, 0, 0x100000, "base_address"},
      {image_at(0x123456), nullptr, false, 12, 0,
       "No.1: f.bin: the image's base address 0x123456 is not a download address"},
      {image_at(0x10000000), nullptr, false, 12, 0,
       "No.1: f.bin: the image's base address 0x10000000 is not a download address"},
      {std::vector<std::uint8_t>(2048, 0), nullptr, false, 12, 0,
       "No.1: f.bin has no image header, so no address of its own"},
      {std::vector<std::uint8_t>(2048, 0), "0008000", false, 0, 0x8000, ""},
      {damaged, nullptr, false, 16, 0, "No.1: f.bin: the header's checksum is 0xBBAFC871, the bytes give 0xBBAFC870"},
      {damaged, "0008000", true, 0, 0x8000, "bad_checksum"},
      {grown, nullptr, false, 16, 0, "No.1: f.bin: the header's size is 2048 bytes, the file has 4096"},
  };
  for (const auto& r : rows) {
    Arguments a;
    a.count = 1;
    a.files[0] = folder.write("f.bin", r.bytes);
    a.has_address[0] = r.address != nullptr;
    a.addresses[0] = r.address != nullptr ? r.address : "";
    a.allow_bad_checksum = r.allow_bad_checksum;
    DownloadJob job;
    job.entry_count = 1;
    ImageSet images;
    const RowRefusal refused = check_rows(a, &job, &images);
    const std::string label = std::to_string(r.exit_status) + " " + r.detail;
    if (r.exit_status == 0) {
      ASSERT_EQ(refused.row, 0) << label << ": " << refused.advice.detail;
      EXPECT_EQ(job.start_addresses[0], r.start) << label;
      std::string kinds;
      for (const JobWarning& w : job_warnings(job, images)) kinds += w.kind;
      EXPECT_EQ(kinds, r.detail);
      continue;
    }
    EXPECT_EQ(refused.row, 1) << label;
    EXPECT_EQ(refused.refusal.exit_status, r.exit_status) << label;
    const std::string detail = refused.advice.detail;
    const std::size_t name = detail.find(a.files[0]);
    ASSERT_NE(name, std::string::npos) << detail;
    EXPECT_EQ(detail.substr(0, name) + "f.bin" + detail.substr(name + a.files[0].size()), r.detail);
  }
  const Outcome checksum = outcome_of(REFUSED_CHECKSUM, 2);
  EXPECT_EQ(checksum.text, "イメージファイルのチェックサムが一致しません。(No.2)");
  EXPECT_EQ(checksum.gloss, "the image's checksum does not verify: convert it again");
  EXPECT_EQ(checksum.exit_status, 16);
  EXPECT_EQ(outcome_of(REFUSED_ADDRESS, 1).text, std::string(message_text(MSG_BAD_ADDRESS)) + "(No.1)");
}

// Warnings of an accepted job: ranges that overlap (not those that only
// touch), a header base other than the download address.
TEST(JobWarningsTest, OverlapsAndBaseAddresses) {
  DownloadJob job;
  ImageSet images;
  const std::vector<std::uint8_t> one_block(2048, 0xFF);
  const struct {
    std::uint32_t starts[3];
    int files;
    std::vector<std::string> kinds;
  } rows[] = {
      {{0x8000, 0x8800, 0}, 2, {}},                      // No.1 ends where No.2 starts
      {{0x8000, 0x8000, 0}, 2, {"overlap 1 2"}},
      {{0x8800, 0x8000, 0x9000}, 3, {}},                 // No.1 touches No.2 and No.3
      {{0x8000, 0x8000, 0x8000}, 3, {"overlap 1 2", "overlap 1 3", "overlap 2 3"}},
      {{0x9000, 0x8000, 0x8000}, 3, {"overlap 2 3"}},
  };
  for (const auto& r : rows) {
    job.entry_count = r.files;
    for (int i = 0; i < r.files; ++i) {
      job.start_addresses[i] = r.starts[i];
      images.files[i] = one_block;
      images.summaries[i] = summary_of(one_block);
      std::snprintf(job.paths[i], sizeof job.paths[i], "/x/%d.bin", i + 1);
    }
    std::vector<std::string> kinds;
    for (const JobWarning& w : job_warnings(job, images)) {
      kinds.push_back(std::string(w.kind) + " " + std::to_string(w.row) + " " + std::to_string(w.other_row));
    }
    EXPECT_EQ(kinds, r.kinds) << r.starts[0] << " " << r.starts[1];
  }
  job.entry_count = 1;
  job.start_addresses[0] = 0x100000;
  images.files[0] = example_image();
  images.summaries[0] = summary_of(images.files[0]);
  const std::vector<JobWarning> base = job_warnings(job, images);
  EXPECT_TRUE(base.empty()) << "the header's base is where the image goes";
  job.start_addresses[0] = 0x8000;
  ASSERT_EQ(job_warnings(job, images).size(), 1u);
  EXPECT_EQ(job_warnings(job, images)[0].text,
            "No.1: the image's base address 0x100000 differs from the download address 0x008000");
}

TEST(PortListTest, NamesWhatCannotBeOpenedAndSaysWhenThereIsNothing) {
  char pattern[] = "/tmp/portlistXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dev = pattern;
  std::FILE* out = std::tmpfile();
  std::FILE* notes = std::tmpfile();
  EXPECT_EQ(show_port_list(out, notes, dev), 0);
  EXPECT_EQ(captured(out), "");
  EXPECT_NE(captured(notes).find("imgload: no serial devices found"), std::string::npos);
  ASSERT_EQ(mkdir((dev + "/serial").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((dev + "/serial/by-id").c_str(), 0700), 0);
  ASSERT_EQ(symlink("../../ttyUSB7", (dev + "/serial/by-id/usb-gone").c_str()), 0);
  std::fclose(std::fopen((dev + "/ttyUSB0").c_str(), "w"));
  const std::vector<PortCandidate> ports = list_ports(dev);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].path, dev + "/serial/by-id/usb-gone");
  EXPECT_EQ(ports[0].note, "cannot open: No such file or directory");
  EXPECT_EQ(ports[1].note, "USB serial adapter") << "an openable device is listed as before";
  EXPECT_EQ(cannot_open_note(EACCES), "cannot open: Permission denied (dialout group)");
  std::fclose(out);
  std::fclose(notes);
  std::remove((dev + "/serial/by-id/usb-gone").c_str());
  std::remove((dev + "/ttyUSB0").c_str());
  rmdir((dev + "/serial/by-id").c_str());
  rmdir((dev + "/serial").c_str());
  rmdir(dev.c_str());
}


// The lines "0: ...\n" to "count - 1: ...\n", as a producer queues them.
std::vector<std::string> numbered_lines(int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) lines.push_back(std::to_string(i) + ": progress\n");
  return lines;
}

TEST(OutputQueueTest, AReaderThatKeepsUpGetsEveryLineInOrder) {
  Captured out(64);  // a queue of 64 bytes: the thread keeps up as the producer waits for it
  std::string expected;
  for (const std::string& line : numbered_lines(200)) {
    expected += line;
    out.channel.push(line);
    out.channel.drain(OutputClock::now() + LONG_ENOUGH);
  }
  EXPECT_EQ(out.text(), expected);
  EXPECT_EQ(out.channel.dropped_lines(), 0u);
}

// A target that takes nothing (a pipe nobody reads): queuing returns at once
// (a producer held up would hang this test), the queue holds what fits in
// its bound, the rest is dropped whole and counted (a bar frame not as a
// line), and what was queued comes out in order once the target reads.
TEST(OutputQueueTest, ABlockedTargetNeverHoldsUpTheProducer) {
  Captured out(100, true);
  out.channel.push("first\n");
  out.written->wait_for_write();  // "first" is being written: the queue is empty
  std::string kept = "first\n";
  std::size_t refused = 0;
  for (const std::string& line : numbered_lines(1000)) {
    if (out.channel.push(line)) {
      kept += line;
    } else {
      ++refused;
    }
  }
  EXPECT_FALSE(out.channel.push("\r[####------]\x1b[K", 0)) << "a frame past the bound";
  EXPECT_GT(refused, 900u);
  EXPECT_EQ(out.channel.dropped_lines(), refused) << "the frame is no line";
  EXPECT_FALSE(out.channel.drain(OutputClock::now())) << "nothing can be written yet";
  EXPECT_LE(kept.size(), 100u + 6u);
  out.channel.push_always("end\n");  // a run's last line passes the bound
  EXPECT_EQ(out.text(), kept + "end\n");
}

// The log's channel has no bound: a target that blocks keeps every line, and
// those not written by the end are given back whole, in order.
TEST(OutputQueueTest, TheLogIsNeverDropped) {
  Captured log(0, true);
  const std::vector<std::string> lines = numbered_lines(5000);
  for (const std::string& line : lines) EXPECT_TRUE(log.channel.push(line));
  EXPECT_EQ(log.channel.dropped_lines(), 0u);
  EXPECT_FALSE(log.channel.drain(OutputClock::now()));
  EXPECT_EQ(log.channel.take_unwritten(), lines) << "the one in its write, then those queued";
  log.written->release();
}

// A sink whose writes fail, as a full disk.
class FullSink : public OutputSink {
 public:
  bool write(const std::string&, std::string* reason) override {
    *reason = "No space left on device";
    return false;
  }
};

TEST(OutputQueueTest, FailedWritesAreCountedAndTheLogsKept) {
  OutputChannel trace(std::make_unique<FullSink>(), 4096);
  OutputChannel log(std::make_unique<FullSink>(), 0);
  for (OutputChannel* channel : {&trace, &log}) {
    channel->push("a\nb\n");
    channel->push("c\n");
    EXPECT_TRUE(channel->drain(OutputClock::now() + LONG_ENOUGH));
    EXPECT_EQ(channel->failed_lines(), 3u);
    EXPECT_EQ(channel->failure(), "No space left on device");
    EXPECT_EQ(channel->dropped_lines(), 0u);
  }
  EXPECT_EQ(trace.take_unwritten(), std::vector<std::string>{});
  EXPECT_EQ(log.take_unwritten(), (std::vector<std::string>{"a\nb\n", "c\n"}));
}

// Standard error on the terminal of the bar: its lines end the bar's line
// first, in the order given; on a stream of its own, they go there alone.
TEST(TerminalTest, ErrorLinesKeepClearOfTheBar) {
  Captured one;
  Terminal shared(ViewStyle::BAR, one.channel, one.channel);
  shared.bar("[##--]", false);
  shared.error("imgload: note");
  shared.bar("[###-]", false);
  EXPECT_EQ(one.text(), "\r[##--]\x1b[K\nimgload: note\n\r[###-]\x1b[K");
  Captured out;
  Captured err;
  Terminal apart(ViewStyle::BAR, out.channel, err.channel);
  apart.bar("[##--]", false);
  apart.error("imgload: note");
  EXPECT_EQ(out.text(), "\r[##--]\x1b[K");
  EXPECT_EQ(err.text(), "imgload: note\n");
}

// A piece dropped leaves the screen as it was: a later line erases only the
// rows that were written, and ends only a bar line that was written.
TEST(TerminalTest, ADroppedPieceChangesNothingOnTheScreen) {
  const std::string row(60, 'x');  // a row too long for a queue of 40 bytes
  Captured out(40, true);
  Terminal rows(ViewStyle::BAR, out.channel, out.channel, 2);
  rows.row(0, row);      // dropped: no rows on the screen yet
  rows.line("a", true);  // nothing to erase; the rows drawn below
  rows.row(1, "y");      // dropped
  rows.line("b", true);  // the two rows written are erased
  EXPECT_EQ(out.text(), "a\n" + row + "\x1b[K\n\x1b[K\n" "\x1b[2A\r\x1b[Jb\n" + row + "\x1b[K\ny\x1b[K\n");
  EXPECT_EQ(rows.dropped_lines(), 0u) << "a row frame is no line";
  Captured bar(20, true);
  Terminal single(ViewStyle::BAR, bar.channel, bar.channel);
  single.bar(std::string(30, '#'), false);  // dropped: no bar line to end
  single.line("x", true);
  single.bar("[#]", false);
  single.line(std::string(30, 'y'));  // dropped: the bar's line stays open
  single.line("z", true);
  EXPECT_EQ(bar.text(), "x\n\r[#]\x1b[K\nz\n");
  EXPECT_EQ(single.dropped_lines(), 1u);
}

TEST(TerminalViewTest, ProgressIsWholeOnlyWhenTheLastBlockIsAccepted) {
  Captured f;
  Terminal terminal(ViewStyle::LINES, f.channel, f.channel);
  TerminalView view(terminal);
  view.run_started(1);
  view.file_started(1, "a.bin", 8);
  for (std::uint32_t i = 1; i <= 8; ++i) view.block_sent(i, 8);
  const std::string before_the_end = f.text();
  view.file_sent(1);
  const std::string out = f.text();
  EXPECT_EQ(before_the_end.find("100%"), std::string::npos) << before_the_end;
  EXPECT_EQ(before_the_end.find("8/8 blocks"), std::string::npos) << before_the_end;
  EXPECT_NE(before_the_end.find("No.1  87%  7/8 blocks"), std::string::npos) << before_the_end;
  EXPECT_NE(out.find("No.1 100%  8/8 blocks"), std::string::npos) << out;
}

// "AD" is sent up to three times while nothing answers: one notice per run.
TEST(TerminalViewTest, TheTransferNoticeIsShownOncePerRun) {
  Captured f;
  Terminal terminal(ViewStyle::LINES, f.channel, f.channel);
  TerminalView view(terminal);
  for (int run = 0; run < 2; ++run) {
    view.run_started(1);
    for (int attempt = 0; attempt < 3; ++attempt) view.transfer_started();
  }
  const std::string out = f.text();
  const std::string notice = one_line(status_text(StatusText{StatusText::TRANSFER_NOTICE, 0, 0}));
  std::size_t shown = 0;
  for (std::size_t at = out.find(notice); at != std::string::npos; at = out.find(notice, at + 1)) {
    ++shown;
  }
  EXPECT_EQ(shown, 2u) << out;
}

// -q: the last line of each port, and the stop notes; nothing else.
TEST(TerminalViewTest, QuietShowsTheLastLineAndTheStopNotes) {
  for (ViewStyle style : {ViewStyle::LINES, ViewStyle::BAR, ViewStyle::JSON}) {
    Captured f;
    Terminal terminal(style, f.channel, f.channel, 2, true);
    EXPECT_FALSE(terminal.has_rows()) << "no rows with -q";
    TerminalView view(terminal, "/dev/a", 0);
    view.run_started(1);
    view.transfer_started();
    view.file_started(1, "a.bin", 4);
    for (std::uint32_t i = 1; i <= 4; ++i) view.block_sent(i, 4);
    view.file_sent(1);
    view.note("imgload: stop requested");
    view.ended(ended_with(DownloadEnd::SUCCEEDED));
    const std::string out = f.text();
    if (style == ViewStyle::JSON) {
      EXPECT_EQ(line_count(out), 2u) << out;
      EXPECT_NE(out.find("{\"port\":\"/dev/a\",\"event\":\"note\""), std::string::npos) << out;
      EXPECT_NE(out.find("{\"port\":\"/dev/a\",\"event\":\"status\",\"text\":\"ダウンロード正常終了\""),
                std::string::npos) << out;
    } else {
      EXPECT_EQ(out, "imgload: stop requested\n"
                     "[/dev/a] ダウンロード正常終了 [download completed normally]\n");
    }
  }
}

// -v: the trace's lines, as the file has them, also on standard error.
TEST(TraceFileTest, VerboseGivesTheSameLinesOnStandardError) {
  char name[] = "/tmp/traceXXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  Captured out;
  Captured err;
  Terminal terminal(ViewStyle::LINES, out.channel, err.channel);
  {
    TraceFile trace;
    std::string refusal;
    ASSERT_TRUE(trace.open(name, &refusal)) << refusal;
    trace.echo_to(&terminal);
    TraceFile::Port port(trace, "/dev/b");
    const std::uint8_t ad[] = {0x05, '0', '0', 'F', 'F', 'A', 'D', '0', '0', 0x0D};
    port.frame_sent(ad, sizeof ad);
    port.reply_read(ad, 3, REPLY_TIMEOUT);
  }
  std::ifstream in(name);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(name);
  const std::string shown = err.text();
  EXPECT_EQ(file.substr(file.find('\n') + 1), shown) << "the file's lines after its first";
  EXPECT_NE(shown.find(" [/dev/b] sent AD, 10 bytes\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" [/dev/b] received 3 bytes: timed out\n"), std::string::npos) << shown;
  EXPECT_EQ(out.text(), "");
}

// What cannot hold a log or a trace is refused with its kind, without
// waiting (a FIFO nobody reads would hold open() forever); the system's
// reason otherwise. The null device is taken.
TEST(OutputFilesTest, AFifoAFolderAndADeviceAreRefused) {
  char pattern[] = "/tmp/outputsXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* refusal;  // after "cannot use PATH as the ROLE: ", or null: taken
  } rows[] = {
      {dir + "/fifo", "it is a FIFO"},
      {dir, "it is a folder"},
      {"/dev/full", "it is a device"},
      {"/dev/null", nullptr},
      {dir + "/plain", nullptr},
  };
  for (const auto& r : rows) {
    std::string log_refusal;
    std::string trace_refusal;
    const bool log_taken = check_log_target(r.path, &log_refusal);
    const bool trace_taken = open_output_file(r.path, "trace", &trace_refusal) != nullptr;
    EXPECT_EQ(log_taken, r.refusal == nullptr) << r.path;
    EXPECT_EQ(trace_taken, r.refusal == nullptr) << r.path;
    if (r.refusal == nullptr) continue;
    EXPECT_EQ(log_refusal, "cannot use " + r.path + " as the log: " + r.refusal);
    EXPECT_EQ(trace_refusal, "cannot use " + r.path + " as the trace: " + r.refusal);
  }
  std::string refusal;
  EXPECT_FALSE(check_log_target(dir + "/no/such.log", &refusal));
  EXPECT_EQ(refusal, "cannot open the log file: " + dir + "/no/such.log: No such file or directory");
  std::remove((dir + "/fifo").c_str());
  std::remove((dir + "/plain").c_str());
  rmdir(dir.c_str());
}

// A log line the file refuses is given back whole, with the reason.
TEST(ProductionLogTest, ALineTheFileRefusesIsGivenBackWhole) {
  char pattern[] = "/tmp/logdirXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string path = std::string(pattern) + "/run.log";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // became a FIFO after the check
  const ProductionLog log(path, {});
  PortRecord r;
  r.port = "/dev/a";
  r.model = 0x30;
  log.append(r);
  std::string failure;
  const std::vector<std::string> unwritten = log.settle(OutputClock::now() + LONG_ENOUGH, &failure);
  std::remove(path.c_str());
  rmdir(pattern);
  EXPECT_EQ(unwritten, std::vector<std::string>{log.line(r) + "\n"});
  EXPECT_EQ(failure, "cannot use " + path + " as the log: it is a FIFO");
}

// One port's loop from phase to phase: a board comes when the model request
// is answered (a port that refuses is no board), has left when it goes
// unanswered, the device is gone or the port no longer opens; the count
// ends the loop after its last board without waiting for it to leave; a
// stop or the end of the unit ids ends it from any phase.
TEST(ProductionLoopTest, EachPhaseStepsOnWhatHappened) {
  using P = LoopPhase;
  using E = LoopEvent;
  const LoopPlan plain{false, 0};
  const LoopPlan ids{true, 0};
  const LoopPlan two{false, 2};
  const struct {
    P phase;
    E event;
    LoopPlan plan;
    P next;
  } rows[] = {
      {P::AWAIT_BOARD, {E::PROBED, Presence::SILENT}, plain, P::AWAIT_BOARD},
      {P::AWAIT_BOARD, {E::PROBED, Presence::DEVICE_MISSING}, plain, P::AWAIT_BOARD},
      {P::AWAIT_BOARD, {E::PROBED, Presence::PORT_REFUSED}, plain, P::AWAIT_BOARD},
      {P::AWAIT_BOARD, {E::PROBED, Presence::ANSWERED}, plain, P::FLASH},
      {P::FLASH, {E::FLASHED, Presence::SILENT, 1}, plain, P::AWAIT_LEAVE},
      {P::FLASH, {E::FLASHED, Presence::SILENT, 1}, two, P::AWAIT_LEAVE},
      {P::FLASH, {E::FLASHED, Presence::SILENT, 2}, two, P::ENDED},
      {P::AWAIT_LEAVE, {E::PROBED, Presence::ANSWERED}, plain, P::AWAIT_LEAVE},
      {P::AWAIT_LEAVE, {E::PROBED, Presence::PORT_REFUSED}, plain, P::AWAIT_BOARD},
      {P::AWAIT_LEAVE, {E::PROBED, Presence::SILENT}, plain, P::AWAIT_BOARD},
      {P::AWAIT_LEAVE, {E::PROBED, Presence::DEVICE_MISSING}, plain, P::AWAIT_BOARD},
      {P::AWAIT_LEAVE, {E::PROBED, Presence::SILENT}, ids, P::ASK_UNIT_ID},
      {P::ASK_UNIT_ID, {E::UNIT_ID_GIVEN}, ids, P::AWAIT_BOARD},
      {P::ASK_UNIT_ID, {E::INPUT_ENDED}, ids, P::ENDED},
      {P::ASK_UNIT_ID, {E::STOPPED}, ids, P::ENDED},
      {P::AWAIT_BOARD, {E::STOPPED}, plain, P::ENDED},
      {P::AWAIT_LEAVE, {E::STOPPED}, plain, P::ENDED},
      {P::FLASH, {E::STOPPED}, plain, P::ENDED},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(static_cast<int>(next_phase(r.phase, r.event, r.plan)), static_cast<int>(r.next))
        << static_cast<int>(r.phase) << " on " << r.event.kind << "/" << static_cast<int>(r.event.presence);
  }
  EXPECT_EQ(first_phase(plain), P::AWAIT_BOARD);
  EXPECT_EQ(first_phase(ids), P::ASK_UNIT_ID);
}

// The operator's line of each board, and its JSON event: PASS with the time,
// FAIL with the text and gloss (a stop that left files unsent fails too);
// the counts include the board; a unit id escaped for the terminal, whole
// in JSON.
TEST(ProductionLoopTest, EachBoardIsToldPassOrFailWithTheCountsSoFar) {
  BoardReport pass{"COM3", 17, std::nullopt, {"ダウンロード正常終了", "download completed normally", 0}, 12.44, {}};
  LoopTally tally{17, 0, 0};
  EXPECT_EQ(board_line(pass, tally), "PASS  COM3  unit 17  12.4 s  (passed 17, failed 0)");
  EXPECT_EQ(board_event(pass, tally).str(),
            "{\"port\":\"COM3\",\"event\":\"board\",\"unit\":17,\"unit_id\":null,\"result\":\"passed\","
            "\"seconds\":12.4,\"text\":\"ダウンロード正常終了\",\"gloss\":\"download completed normally\","
            "\"exit_status\":0,\"passed\":17,\"failed\":0}");
  BoardReport fail{"COM3", 18, std::string("SN\x1b[2J-18"),
                   {"通信エラー\n(受信データエラー)", "communication error (received data error)", 9}, 3.0,
                   {"the controller refused it", "check the cable"}};
  tally.add(9);
  EXPECT_EQ(board_line(fail, tally),
            "FAIL  COM3  unit 18 (id SN\\x1b[2J-18)  通信エラー (受信データエラー) "
            "[communication error (received data error)]  (passed 17, failed 1)");
  EXPECT_EQ(board_event(fail, tally).str(),
            "{\"port\":\"COM3\",\"event\":\"board\",\"unit\":18,\"unit_id\":\"SN\\u001b[2J-18\","
            "\"result\":\"failed\",\"seconds\":3.0,\"text\":\"通信エラー\\n(受信データエラー)\","
            "\"gloss\":\"communication error (received data error)\",\"detail\":\"the controller refused it\","
            "\"hint\":\"check the cable\",\"exit_status\":9,\"passed\":17,\"failed\":1}");
  BoardReport stopped{"/dev/a", 1, std::nullopt, {"ダウンロード正常終了", "stopped after file 1 of 2", 3}, 7.0, {}};
  LoopTally one;
  one.add(3);
  EXPECT_EQ(board_line(stopped, one),
            "FAIL  /dev/a  unit 1  ダウンロード正常終了 [stopped after file 1 of 2]  (passed 0, failed 1)");
}

// A waiting port's status: what it waits for and what its last probe found.
TEST(ProductionLoopTest, AWaitingPortSaysWhatItWaitsFor) {
  const LoopTally tally{16, 2, 9};
  const struct {
    WaitingState state;
    const char* line;
    const char* event;  // "for" and "device"
  } rows[] = {
      {{LoopPhase::AWAIT_BOARD, Presence::SILENT, ""}, "COM3  waiting for a board  (passed 16, failed 2)",
       "\"for\":\"board\",\"device\":\"present\""},
      {{LoopPhase::AWAIT_BOARD, Presence::DEVICE_MISSING, ""},
       "COM3  waiting for a board (no device)  (passed 16, failed 2)", "\"for\":\"board\",\"device\":\"missing\""},
      {{LoopPhase::AWAIT_LEAVE, Presence::ANSWERED, ""},
       "COM3  waiting for the board to leave  (passed 16, failed 2)", "\"for\":\"leave\",\"device\":\"present\""},
      {{LoopPhase::AWAIT_BOARD, Presence::PORT_REFUSED, "COM3: Access is denied"},
       "COM3  waiting: the port does not open (COM3: Access is denied)  (passed 16, failed 2)",
       "\"for\":\"board\",\"device\":\"refused\""},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(waiting_line("COM3", r.state, tally), r.line);
    const std::string event = waiting_event("COM3", r.state, tally).str();
    EXPECT_EQ(event.find("{\"port\":\"COM3\",\"event\":\"waiting\"," + std::string(r.event) + ",\"text\":\"" +
                         waiting_words(r.state) + "\",\"passed\":16,\"failed\":2}"),
              0u)
        << event;
  }
}

// The summary's figures: boards over the loop's time, per hour; the loop's
// status is the first failed board's of the first port (in the order given)
// that had one, 0 when every board passed.
TEST(ProductionLoopTest, TheSummaryAndTheLoopsExitStatus) {
  EXPECT_DOUBLE_EQ(boards_per_hour(10, 3600), 10);
  EXPECT_DOUBLE_EQ(boards_per_hour(4, 60), 240);
  EXPECT_DOUBLE_EQ(boards_per_hour(0, 60), 0);
  EXPECT_DOUBLE_EQ(boards_per_hour(3, 0), 0);
  LoopTally a;
  LoopTally b;
  for (const int status : {0, 9, 0, 5}) a.add(status);
  for (const int status : {10, 0}) b.add(status);
  EXPECT_EQ(a.passed, 2);
  EXPECT_EQ(a.failed, 2);
  EXPECT_EQ(a.first_failure, 9);
  const LoopTally clean{3, 0, 0};
  const struct {
    std::vector<LoopTally> ports;
    int status;
  } rows[] = {
      {{}, 0}, {{clean}, 0}, {{clean, clean}, 0}, {{a, b}, 9}, {{b, a}, 10}, {{clean, b, a}, 10},
  };
  for (const auto& r : rows) EXPECT_EQ(loop_exit_status(r.ports), r.status);
  const std::vector<LoopSummary> ports = {{"/dev/ttyUSB0", a, 120.0}, {"COM3", clean, 0}};
  EXPECT_EQ(summary_lines(ports),
            (std::vector<std::string>{"port          passed  failed      time  boards/hour",
                                      "/dev/ttyUSB0       2       2    120.0s        120.0",
                                      "COM3               3       0      0.0s          0.0"}));
  EXPECT_EQ(loop_end_event(ports[0]).str(),
            "{\"port\":\"/dev/ttyUSB0\",\"event\":\"loop_end\",\"passed\":2,\"failed\":2,\"boards\":4,"
            "\"seconds\":120.0,\"boards_per_hour\":120.0,\"exit_status\":9}");
}

// The operator's lines: taken in order, trimmed, a blank one asked for
// again; the end of the input and a stop end the asking; a wait for the next
// probe ends at once after a stop.
TEST(ProductionLoopTest, UnitIdLinesUntilTheInputEndsOrAStop) {
  std::atomic<int> stop{0};
  LoopSignals signals(stop);
  int prompts = 0;
  const auto prompt = [&] { ++prompts; };
  signals.add_line("  SN-1 \r");
  signals.add_line("");
  signals.add_line(" \t");
  signals.add_line("SN 2");
  std::string id;
  EXPECT_EQ(signals.take_line(prompt, &id), LoopSignals::Taken::LINE);
  EXPECT_EQ(id, "SN-1");
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(signals.take_line(prompt, &id), LoopSignals::Taken::LINE);
  EXPECT_EQ(id, "SN 2");
  EXPECT_EQ(prompts, 4) << "each blank line is asked for again";
  signals.end_input();
  EXPECT_EQ(signals.take_line(prompt, &id), LoopSignals::Taken::INPUT_ENDED);
  // Before the deadline: not stopped (the deadline is now, nothing waits).
  EXPECT_FALSE(signals.sleep_until(std::chrono::steady_clock::now()));
  signals.request_stop();
  EXPECT_EQ(stop.load(), 1);
  signals.add_line("SN-3");
  EXPECT_EQ(signals.take_line(prompt, &id), LoopSignals::Taken::STOPPED);
  EXPECT_TRUE(signals.sleep_until(std::chrono::steady_clock::now() + std::chrono::hours(1)));
}

}  // namespace
}  // namespace imgload
