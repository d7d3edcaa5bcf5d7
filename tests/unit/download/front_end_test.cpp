// Pieces of the Linux imgload: the file summary (header fields, checksum
// check, cp932 comment), the progress view's JSON events and glosses, the
// production log's lines and times, the trace file's hex and ASCII dump, the
// advice on a port that did not open or did not answer, and the listing of
// candidate ports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "image/sha256.h"
#include "imgload/download/messages.h"
#include "imgload/download/status.h"
#include "imgload/link/frame.h"
#include "imgload/cli/command_line.h"
#include "imgload/cli/job_rows.h"
#include "imgload/cli/outcome.h"
#include "imgload/cli/port_list.h"
#include "imgload/cli/production_log.h"
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
imgconv::ImageSummary summary_of(const std::vector<std::uint8_t>& d) {
  return imgconv::summarize_image(d.data(), d.size());
}

TEST(ImageInfoTest, ReadsTheHeaderAndVerifiesTheChecksum) {
  const imgconv::ImageSummary info = summary_of(example_image());
  EXPECT_TRUE(info.magic_ok);
  EXPECT_EQ(imgconv::format_version_text(info.header.version), "1.00");
  EXPECT_EQ(imgconv::cp932_to_utf8(info.header.comment), "abc");
  EXPECT_EQ(info.header.base_address, 0x100000u);
  EXPECT_EQ(info.header.size, 2048u);
  EXPECT_TRUE(info.checksum_verifies());
  EXPECT_EQ(info.check_value, 0x1234518Cu) << "magic XOR length";
}

TEST(ImageInfoTest, AChangedByteFailsTheChecksum) {
  std::vector<std::uint8_t> d = example_image();
  d[1000] = 0x00;
  const imgconv::ImageSummary info = summary_of(d);
  EXPECT_TRUE(info.magic_ok);
  EXPECT_FALSE(info.checksum_verifies());
}

TEST(ImageInfoTest, VersionSuffixAndCp932Comment) {
  std::vector<std::uint8_t> d = example_image();
  d[24] = 0xA1;
  d[25] = 0x23;
  const unsigned char demo[] = {0x83, 0x66, 0x83, 0x82, 0x0D, 0x0A, 0x41, 0x00};  // デモ CR LF A
  std::memcpy(&d[32], demo, sizeof demo);
  const imgconv::ImageSummary info = summary_of(d);
  EXPECT_EQ(imgconv::format_version_text(info.header.version), "1.23_A");
  EXPECT_EQ(imgconv::cp932_to_utf8(info.header.comment), "デモ\r\nA");
  EXPECT_FALSE(info.checksum_verifies()) << "the checksum was not made again";
}

TEST(ImageInfoTest, AFileWithoutHeaderIsReportedSo) {
  const imgconv::ImageSummary info = summary_of(std::vector<std::uint8_t>(2048, 0));
  EXPECT_FALSE(info.magic_ok);
  EXPECT_FALSE(info.checksum_verifies());
}

DownloadResult ended_with(DownloadEnd end) {
  DownloadResult result;
  result.end = end;
  return result;
}

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
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  Terminal terminal(ViewStyle::JSON, f);
  TerminalView view(terminal);
  TerminalView tagged(terminal, "/dev/b", 1);
  view.run_started(1);
  view.file_started(1, "/x/a \"b\".bin", 4);
  for (std::uint32_t i = 1; i <= 4; ++i) view.block_sent(i, 4);
  view.file_sent(1);
  view.ended(ended_with(DownloadEnd::TIMED_OUT));
  tagged.ended(ended_with(DownloadEnd::SUCCEEDED));  // several ports: each event names its port
  const std::string out = captured(f);
  std::fclose(f);
  EXPECT_NE(out.find("{\"event\":\"file\",\"label\":\"No.1\",\"number\":1,\"path\":\"/x/a \\\"b\\\".bin\","
                     "\"time\":\""),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"position\":5,\"maximum\":5,\"blocks_sent\":4,\"blocks\":4"), std::string::npos) << out;
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
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  Terminal terminal(ViewStyle::LINES, f);
  TerminalView view(terminal);
  TerminalView named(terminal, "/dev/b", 1);
  view.ended(ended_with(DownloadEnd::SUCCEEDED));
  view.ended(ended_with(DownloadEnd::PORT_OPEN_FAILED));
  named.file_started(2, "", 4);
  const std::string out = captured(f);
  std::fclose(f);
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
// header's version and comment (empty without a header), the model as its
// two digits or null.
TEST(ProductionLogTest, OneLinePerPortWithTheFilesSent) {
  const std::vector<std::uint8_t> image = example_image();
  const std::vector<std::uint8_t> bare(2048, 0);
  const ProductionLog log("unused.log", {logged_file("/x/a.bin", image, 0x8000),
                                         logged_file("/x/b.bin", bare, 0)});
  PortRecord r;
  r.time_start = at_ms(1796681604123);
  r.time_end = at_ms(1796681610000);
  r.port = "/dev/ttyUSB0";
  r.exit_status = 9;
  r.text = "通信エラー\n(受信データエラー)";
  r.gloss = "communication error (received data error)";
  const std::string host = "\"host\":" + json_string(host_name());
  const std::string files =
      "\"files\":[{\"path\":\"/x/a.bin\",\"size\":2048,\"sha256\":\"" +
      zp3k::sha256_hex(image.data(), image.size()) +
      "\",\"version\":\"1.00\",\"comment\":\"abc\",\"start_address\":32768},"
      "{\"path\":\"/x/b.bin\",\"size\":2048,"
      "\"sha256\":\"e5a00aa9991ac8a5ee3109844d84a55583bd20572ad3ffcd42792f3c36b183ad\","
      "\"version\":\"\",\"comment\":\"\",\"start_address\":0}]";
  EXPECT_EQ(log.line(r), "{\"time_start\":\"2026-12-07T22:13:24.123Z\",\"time_end\":\"2026-12-07T22:13:30.000Z\"," +
                             host + ",\"port\":\"/dev/ttyUSB0\",\"exit_status\":9,"
                             "\"text\":\"通信エラー\\n(受信データエラー)\","
                             "\"gloss\":\"communication error (received data error)\"," +
                             files + ",\"model\":null,\"tool\":\"imgload 1.1.0\"}");
  r.model = 0x3A;
  EXPECT_NE(log.line(r).find(",\"model\":\"3A\",\"tool\""), std::string::npos);
}

TEST(TraceFileTest, WritesFramesInHexAndAscii) {
  char name[] = "/tmp/traceXXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    TraceFile trace;
    ASSERT_TRUE(trace.open(name));
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
  struct Case {
    int error;
    long holder;
    const char* text;
  } cases[] = {
      {EACCES, 0, "/dev/ttyUSB0: Permission denied: add your user to the dialout group "
                  "(sudo usermod -aG dialout $USER), then log in again"},
      {ENOENT, 0, "/dev/ttyUSB0: No such file or directory: see imgload --list-ports"},
      {ENXIO, 0, "/dev/ttyUSB0: No such device or address: see imgload --list-ports"},
      {ENOTTY, 0, "/dev/ttyUSB0: Inappropriate ioctl for device: not a serial device"},
      {EBUSY, 4242, "/dev/ttyUSB0: Device or resource busy: in use by process 4242"},
      {EWOULDBLOCK, 0, "/dev/ttyUSB0: Resource temporarily unavailable: in use by another program"},
      {EIO, 0, "/dev/ttyUSB0: Input/output error"},
      {0, 0, "/dev/ttyUSB0: cannot open"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(advice_text(port_open_advice("/dev/ttyUSB0", c.error, c.holder)), c.text);
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
  result.system_error = ENOENT;
  const Advice advice = end_advice(result, "/dev/b", 0);
  EXPECT_EQ(advice.detail, "/dev/b: No such file or directory");
  EXPECT_EQ(advice.hint, "see imgload --list-ports");
}

// Every end of a download has its documented exit status.
TEST(OutcomeTest, ExitStatusOfEachEnd) {
  const struct {
    DownloadEnd end;
    int file, files;
    int status;
  } rows[] = {
      {DownloadEnd::SUCCEEDED, 2, 2, 0},          {DownloadEnd::STOPPED, 1, 3, 3},
      {DownloadEnd::STOPPED, 3, 3, 0},            {DownloadEnd::TIMED_OUT, 1, 1, 5},
      {DownloadEnd::FILE_OPEN_FAILED, 1, 1, 7},   {DownloadEnd::FILE_READ_FAILED, 1, 1, 8},
      {DownloadEnd::REPLY_REJECTED, 1, 1, 9},     {DownloadEnd::BAD_MODEL, 1, 1, 9},
      {DownloadEnd::PORT_OPEN_FAILED, 1, 1, 10},  {DownloadEnd::NO_EXTERNAL_FLASH, 2, 2, 15},
  };
  for (const auto& r : rows) {
    DownloadResult result = ended_with(r.end);
    result.file = r.file;
    result.files = r.files;
    EXPECT_EQ(exit_status_of(result), r.status) << static_cast<int>(r.end) << " " << r.file << "/" << r.files;
  }
}

// The command line as getopt_long reads it: what each set of words asks for,
// or why it is refused before anything is opened.
TEST(CommandLineTest, WordsAskForARunOrAreRefusedWithTheirReason) {
  const struct {
    std::vector<std::string> words;
    Action action;
    std::string seen;  // RUN: ports, speed, flags and files; REFUSED: the problem
  } rows[] = {
      {{"a.bin"}, Action::RUN, DEFAULT_PORT_DEVICE + std::string(" 115200 run a.bin@0008000")},
      {{"-p", "/dev/x", "-b", "9600", "--no-run", "-q", "a.bin@0100000", "b.bin"}, Action::RUN,
       "/dev/x 9600 quiet a.bin@0100000 b.bin@0008000"},
      {{"--port=/dev/x", "--port", "/dev/y", "--speed", "57600", "-v", "--json", "--", "-c.bin"},
       Action::RUN, "/dev/x /dev/y 57600 run verbose json -c.bin@0008000"},
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
    std::vector<std::string> words = {"imgload"};
    words.insert(words.end(), r.words.begin(), r.words.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const CommandLine c = read_command_line(static_cast<int>(words.size()), argv.data());
    std::string seen = c.problem;
    if (c.action == Action::RUN) {
      const Arguments& a = c.arguments;
      for (const std::string& d : a.devices) seen += d + " ";
      seen += std::string(SPEED_TEXTS[a.speed_index]) + (a.run_after ? " run" : "") +
              (a.quiet ? " quiet" : "") + (a.verbose ? " verbose" : "") + (a.json ? " json" : "");
      for (int i = 0; i < a.count; ++i) seen += " " + a.files[i] + "@" + a.addresses[i];
    }
    EXPECT_EQ(static_cast<int>(c.action), static_cast<int>(r.action)) << words[1];
    EXPECT_EQ(seen, r.seen);
  }
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

}  // namespace
}  // namespace imgload
