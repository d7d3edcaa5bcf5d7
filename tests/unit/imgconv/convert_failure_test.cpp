// Output failures provoked for real: a stdio stream whose device fails behind
// the file seam (fopencookie); the output name as a link or a folder; and a
// conversion ended by a signal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "image/image_format.h"
#include "imgconv/srecord_line.h"
#include "test_files.h"

using namespace image;  // the image format

using namespace imgconv;
using namespace imgconv_test;

namespace {

// A device in memory that fails writes beyond a byte limit, reads beyond an
// offset, or seeks, as the test asks.
struct FailingDevice {
  std::vector<std::uint8_t> content;
  off64_t position = 0;
  std::size_t write_limit = SIZE_MAX;  // bytes accepted in total before writes fail
  off64_t read_limit = INT64_MAX;      // reads at or beyond this offset fail
  bool fail_seek = false;
  std::size_t written = 0;
};

ssize_t device_write(void* cookie, const char* buf, size_t size) {
  auto* d = static_cast<FailingDevice*>(cookie);
  if (d->written >= d->write_limit) {
    errno = ENOSPC;
    return -1;
  }
  size_t n = std::min(size, d->write_limit - d->written);
  // A stream takes a short count as a failure and does not write the rest:
  // the reason is the one the rest would have met.
  if (n < size) errno = ENOSPC;
  if (d->content.size() < static_cast<size_t>(d->position) + n) d->content.resize(d->position + n);
  std::memcpy(d->content.data() + d->position, buf, n);
  d->position += static_cast<off64_t>(n);
  d->written += n;
  return static_cast<ssize_t>(n);
}

ssize_t device_read(void* cookie, char* buf, size_t size) {
  auto* d = static_cast<FailingDevice*>(cookie);
  if (d->position >= d->read_limit) {
    errno = EIO;
    return -1;
  }
  off64_t end = std::min<off64_t>(static_cast<off64_t>(d->content.size()), d->read_limit);
  size_t n = d->position >= end ? 0 : std::min<size_t>(size, static_cast<size_t>(end - d->position));
  std::memcpy(buf, d->content.data() + d->position, n);
  d->position += static_cast<off64_t>(n);
  return static_cast<ssize_t>(n);
}

int device_seek(void* cookie, off64_t* offset, int whence) {
  auto* d = static_cast<FailingDevice*>(cookie);
  if (d->fail_seek) {
    errno = EIO;
    return -1;
  }
  off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? d->position
                                                              : static_cast<off64_t>(d->content.size());
  d->position = base + *offset;
  *offset = d->position;
  return 0;
}

int device_close(void*) { return 0; }

FailingDevice* device = nullptr;

// The platform seam, except that the output is written to the failing device.
// The real temporary file is still created (and left empty), so that its
// removal or its move into place can be observed.
std::FILE* create_failing_temp(const char* path, char* temp_path, std::size_t temp_size) {
  std::FILE* real = platform_file_services().create_temp(path, temp_path, temp_size);
  if (real == nullptr) return nullptr;
  std::fclose(real);
  return fopencookie(device, "w+", {device_read, device_write, device_seek, device_close});
}

// The names in the current folder, sorted.
std::vector<std::string> folder_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
const std::vector<std::string> kOnlySource = {"in.hex"};

class OutputFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    converter.flags.confirm_overwrite = false;
    device = &dev;
    converter.files.create_temp = create_failing_temp;
    // Three blocks of data.
    write_text("in.hex", srecord_file({s3(0x8100, {1}), s3(0x8900, {2}), s3(0x9100, {3})}));
  }
  void TearDown() override { device = nullptr; }

  ScratchDir dir;
  FailingDevice dev;
  Converter converter{platform_file_services()};
};

}  // namespace

TEST_F(OutputFailureTest, TheDeviceWorksWhenNothingFails) {
  ASSERT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
  ASSERT_EQ(dev.content.size(), 3u * 2048u);
  EXPECT_EQ(load_le32(dev.content.data() + 8), 0xFFFF9801u);  // the words from offset 12 XORed
}

// Each row a failing device under one operation: its result, the cause and
// the device's reason in the report (taken before the clean-up), and nothing
// left beside the source.
TEST_F(OutputFailureTest, EachDeviceFailureGivesItsResultAndLeavesNoOutput) {
  constexpr std::size_t ALL = SIZE_MAX;
  constexpr off64_t NONE = INT64_MAX;
  constexpr FailureCause WRITE = CAUSE_WRITE_OUTPUT;
  const char* const kFull = "No space left on device";
  const char* const kIo = "Input/output error";
  const struct {
    bool header_only;
    std::size_t write_limit;
    off64_t read_limit;
    bool fail_seek;
    ConvertResult result;
    FailureCause cause;
    const char* reason;
  } rows[] = {
      {false, 0, NONE, false, CONVERT_ERR_DEST_WRITE, WRITE, kFull},  // writes failing midway
      {false, 100, NONE, false, CONVERT_ERR_DEST_WRITE, WRITE, kFull},
      {false, 2048, NONE, false, CONVERT_ERR_DEST_WRITE, WRITE, kFull},
      {false, 5000, NONE, false, CONVERT_ERR_DEST_WRITE, WRITE, kFull},
      {false, 3 * 2048, NONE, false, CONVERT_ERR_DEST_WRITE, WRITE, kFull},
      {false, ALL, 0, false, CONVERT_ERR_DEST_WRITE, WRITE, kIo},  // the read-back of block 0
      {false, ALL, 2048, false, CONVERT_ERR_DEST_READ, CAUSE_READ_OUTPUT, kIo},  // block 1 does not read back
      {false, ALL, NONE, true, CONVERT_ERR_DEST_WRITE, WRITE, kIo},  // seeks failing
      {true, ALL, NONE, true, CONVERT_ERR_DEST_WRITE, WRITE, kIo},   // the header-only file
      {true, 0, NONE, false, CONVERT_ERR_DEST_WRITE, WRITE, kFull},
      {true, ALL, 0, false, CONVERT_ERR_DEST_WRITE, WRITE, kIo},
      // The final write of the 64 bytes failing is found at the latest when the file is closed.
      {true, 64, NONE, false, CONVERT_ERR_DEST_WRITE, WRITE, kFull},
  };
  for (const auto& row : rows) {
    dev = FailingDevice{};
    dev.write_limit = row.write_limit;
    dev.read_limit = row.read_limit;
    dev.fail_seek = row.fail_seek;
    const int n = static_cast<int>(&row - rows);
    ConvertReport report;
    EXPECT_EQ(row.header_only ? converter.write_header_only("hdr", "1.00", "c", &report)
                              : converter.convert_to_image("in.hex", "out", "1.00", "", &report),
              row.result) << "row " << n;
    EXPECT_EQ(report.cause, row.cause) << "row " << n;
    EXPECT_STREQ(report.reason, row.reason) << "row " << n;
    EXPECT_EQ(std::filesystem::path(report.path).filename(), row.header_only ? "hdr.bin" : "out.bin") << n;
    EXPECT_EQ(folder_names(), kOnlySource) << "row " << n;
  }
}

TEST_F(OutputFailureTest, WriteFailureRemovesAnAgreedOverwrite) {
  converter.flags.confirm_overwrite = true;
  converter.flags.ask_overwrite = [](void*) { return true; };
  write_text("out.bin", "old");
  dev.write_limit = 5000;
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_DEST_WRITE);
  EXPECT_EQ(folder_names(), kOnlySource);
}

TEST(OutputName, ALinkIsReplacedNotFollowedAndAFolderIsNotReplaced) {
  ScratchDir dir;
  Converter converter{platform_file_services()};
  converter.flags.confirm_overwrite = false;
  write_text("in.hex", srecord_file({s3(0x8100, {1})}));
  write_text("victim.txt", "victim");
  ASSERT_EQ(symlink("victim.txt", "out.bin"), 0);
  ASSERT_EQ(symlink("victim.txt", "hdr.bin"), 0);
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
  EXPECT_EQ(converter.write_header_only("hdr", "1.00", ""), CONVERT_OK);
  EXPECT_FALSE(std::filesystem::is_symlink("out.bin"));
  EXPECT_EQ(read_bytes("out.bin").size(), 2048u);
  EXPECT_EQ(read_bytes("hdr.bin").size(), 64u);
  EXPECT_EQ(read_bytes("victim.txt"), std::vector<std::uint8_t>({'v', 'i', 'c', 't', 'i', 'm'}));
  // A link whose conversion fails at the output stage is removed; its
  // target stays. A bad comment is refused before: the link stays too.
  ASSERT_EQ(std::remove("out.bin"), 0);
  ASSERT_EQ(symlink("victim.txt", "out.bin"), 0);
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", std::string(31, 'c').c_str()), CONVERT_ERR_COMMENT);
  EXPECT_TRUE(std::filesystem::is_symlink("out.bin"));
  write_text("late.hex", srecord_file({s3(0x8100, {1}), "S5030001FB"}));
  EXPECT_EQ(converter.convert_to_image("late.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_OPEN);
  EXPECT_FALSE(exists("out.bin"));
  EXPECT_EQ(read_bytes("victim.txt").size(), 6u);
  // A folder of that name cannot be replaced: 3, told as such, and no
  // temporary file stays.
  std::filesystem::create_directories("out.bin/inside");
  ConvertReport report;
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "", &report), CONVERT_ERR_DEST_OPEN);
  EXPECT_EQ(report.cause, CAUSE_REPLACE_OUTPUT);
  EXPECT_STREQ(report.reason, "Is a directory");
  EXPECT_TRUE(std::filesystem::is_directory("out.bin/inside"));
  EXPECT_EQ(folder_names(), (std::vector<std::string>{"hdr.bin", "in.hex", "late.hex", "out.bin", "victim.txt"}));
}

// A source that is no regular file is refused with the reason: a folder as
// a folder, a FIFO or a device as no regular file.
TEST(SourceName, WhatIsNoRegularFileIsToldAsSuch) {
  ScratchDir dir;
  Converter converter{platform_file_services()};
  std::filesystem::create_directory("dir.hex");
  ASSERT_EQ(mkfifo("pipe.hex", 0600), 0);
  ASSERT_EQ(symlink("/dev/null", "null.hex"), 0);
  const std::pair<const char*, const char*> rows[] = {
      {"dir.hex", "Is a directory"}, {"pipe.hex", "not a regular file"}, {"null.hex", "not a regular file"}};
  for (const auto& row : rows) {
    ConvertReport report;
    EXPECT_EQ(converter.convert_to_image(row.first, "out", "1.00", "", &report), CONVERT_ERR_SOURCE_OPEN);
    EXPECT_EQ(report.cause, CAUSE_OPEN_SOURCE) << row.first;
    EXPECT_STREQ(report.path, row.first);
    EXPECT_STREQ(report.reason, row.second) << row.first;
  }
  // The next failure is told by errno again.
  ConvertReport report;
  EXPECT_EQ(converter.convert_to_image("missing.hex", "out", "1.00", "", &report), CONVERT_ERR_SOURCE_OPEN);
  EXPECT_STREQ(report.reason, "No such file or directory");
}

TEST(SourceLines, CrLfEndsALineAcrossEveryChunkBoundary) {
  ScratchDir dir;
  std::string lf, crlf;
  for (int i = 0; i < 200; ++i) {
    std::string line(static_cast<std::size_t>(i % 13), static_cast<char>('a' + i % 26));
    if (i % 7 == 3) line += "\rx";  // a CR without LF stays
    lf += line + "\n";
    crlf += line + "\r\n";
  }
  crlf += std::string(254, 'w') + "\r\r\n";  // 255 characters and CR LF fit
  lf += std::string(254, 'w') + "\r\n";
  crlf += "tail\r";  // a CR at the very end stays too
  lf += "tail\r";
  write_text("crlf.txt", crlf);
  for (std::size_t chunk_size : {2u, 7u, 64u, 4096u}) {
    zp3k::Status opened;
    std::FILE* f = platform_file_services().open_source("crlf.txt", &opened);
    ASSERT_NE(f, nullptr);
    std::vector<char> chunk(chunk_size);
    SourceLines lines(f, chunk.data(), chunk.size());
    char spill[SRECORD_LINE_BUFFER];
    const char* line = nullptr;
    std::size_t length = 0;
    bool line_feed = false;
    std::string got;
    SourceLines::Status status;
    while ((status = lines.next(spill, &line, &length, &line_feed)) == SourceLines::LINE) {
      got += std::string(line, length) + (line_feed ? "\n" : "");
    }
    EXPECT_EQ(status, SourceLines::END);
    EXPECT_EQ(got, lf) << "chunk " << chunk_size;
    std::fclose(f);
  }
}

namespace {

// A source behind the seam that reads a text but cannot be rewound, or whose
// reads fail after the text.
struct FailingSource {
  std::string text;
  std::size_t position = 0;
  bool fail_rewind = false;
  bool fail_read_at_end = false;
  int signal_in_second_pass = 0;  // raised at the first read after the rewind
  bool rewound = false;
} source_device;

ssize_t source_read(void*, char* buf, size_t size) {
  auto& s = source_device;
  if (s.rewound && s.signal_in_second_pass != 0) raise(s.signal_in_second_pass);
  if (s.position >= s.text.size() && s.fail_read_at_end) {
    errno = EIO;
    return -1;
  }
  size_t n = std::min(size, s.text.size() - s.position);
  std::memcpy(buf, s.text.data() + s.position, n);
  s.position += n;
  return static_cast<ssize_t>(n);
}

int source_seek(void*, off64_t* offset, int whence) {
  auto& s = source_device;
  if (s.fail_rewind || whence != SEEK_SET) {
    errno = ESPIPE;
    return -1;
  }
  s.position = static_cast<std::size_t>(*offset);
  s.rewound = true;
  return 0;
}

std::FILE* open_failing_source(const char*, zp3k::Status*) {
  source_device.position = 0;
  source_device.rewound = false;
  return fopencookie(nullptr, "r", {source_read, nullptr, source_seek, nullptr});
}

class SourceFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    converter.flags.confirm_overwrite = false;
    converter.files.open_source = open_failing_source;
    source_device = FailingSource{};
    source_device.text = srecord_file({s3(0x8100, {1})});
  }

  ScratchDir dir;
  Converter converter{platform_file_services()};
};

}  // namespace

TEST_F(SourceFailureTest, TheSeamSourceConvertsWhenNothingFails) {
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
  EXPECT_EQ(read_bytes("out.bin").size(), 2048u);
}

TEST_F(SourceFailureTest, RewindFailingGivesSourcePathErrorBeforeTheOutputExists) {
  source_device.fail_rewind = true;
  ConvertReport report;
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "", &report), CONVERT_ERR_SOURCE_PATH);
  EXPECT_EQ(report.cause, CAUSE_REWIND_SOURCE);
  EXPECT_STREQ(report.reason, "Illegal seek");
  EXPECT_FALSE(exists("out.bin"));
}

TEST_F(SourceFailureTest, ReadErrorIsASourceError) {
  source_device.fail_read_at_end = true;
  ConvertReport report;
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "", &report), CONVERT_ERR_SOURCE_OPEN);
  EXPECT_EQ(report.cause, CAUSE_READ_SOURCE);
  EXPECT_STREQ(report.path, "in.hex");
  EXPECT_STREQ(report.reason, "Input/output error");
  EXPECT_FALSE(exists("out.bin"));
}

TEST_F(SourceFailureTest, SignalInTheSecondPassKeepsThePreviousOutputAndRemovesTheTemporaryFile) {
  // The first conversion leaves an image; the next ones are ended by a
  // signal while the temporary file is being filled.
  ASSERT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "first"), CONVERT_OK);
  const std::vector<std::uint8_t> previous = read_bytes("out.bin");
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    source_device.signal_in_second_pass = sig;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const struct rlimit no_core = {0, 0};  // SIGQUIT would leave a core file here
      setrlimit(RLIMIT_CORE, &no_core);
      converter.convert_to_image("in.hex", "out", "1.00", "second");
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(read_bytes("out.bin"), previous) << sig;
    EXPECT_EQ(folder_names(), (std::vector<std::string>{"out.bin"})) << sig;
  }
}
