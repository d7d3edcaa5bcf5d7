// The checks of one job row: start-address texts, seven-digit parsing, path
// completion against the working directory and the image file size rule.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "imgload/download/download_job.h"
#include "imgload/download/image_file.h"
#include "imgload/download/job_checks.h"
#include "platform/files.h"

namespace imgload {
namespace {

TEST(ParseStartAddressTest, AcceptsTheInternalAndExternalSteps) {
  struct Case {
    const char* text;
    std::uint32_t value;
  } cases[] = {{"0008000", 0x8000},   {"001F800", 0x1F800},  {"001f800", 0x1F800},
               {"0010800", 0x10800},  {"0100000", 0x100000}, {"01F0000", 0x1F0000},
               {"01a0000", 0x1A0000}, {"0000000_A", 0}};
  for (const Case& c : cases) {
    std::uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(ParseStartAddress(c.text, &address), 1) << c.text;
    EXPECT_EQ(address, c.value) << c.text;
  }
}

TEST(ParseStartAddressTest, RefusesEverythingElseAndLeavesTheAddress) {
  const char* refused[] = {"0008001", "0020000", "0108000", "00008000", "8000",
                           "0000000_a", "000800G", "", "0000000", "0007800",
                           "0200000", "01F0001", "0000000_A ", " 0008000", "0000000_B",
                           "0001F800"};
  for (const char* text : refused) {
    std::uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(ParseStartAddress(text, &address), 0) << '"' << text << '"';
    EXPECT_EQ(address, 0xDEADBEEFu) << text;
  }
}

TEST(ParseStartAddressTest, AcceptsExactlyTheSixtyFourAddresses) {
  int accepted = 0;
  for (std::uint32_t v = 0; v <= 0x1FFFFF; v += 0x800) {
    char text[8];
    std::snprintf(text, sizeof text, "%07X", v);
    std::uint32_t address = 0;
    accepted += ParseStartAddress(text, &address);
  }
  EXPECT_EQ(accepted, 48 + 16);
}

TEST(SuggestStartAddressTest, GivesTheAcceptedSpellingOfTheSameAddressOnly) {
  struct Case {
    const char* text;
    const char* suggestion;  // nullptr: none
  } cases[] = {{"0x100000", "0100000"},   {"100000", "0100000"},   {"0X1f800", "001F800"},
               {"8000", "0008000"},       {"00008000", "0008000"}, {"0000000", "0000000_A"},
               {"0x0", "0000000_A"},      {"0000000_a", "0000000_A"},
               {"0x8001", nullptr},       {"0200000", nullptr},    {"0x12345678", nullptr},
               {"0008000", nullptr},      {"", nullptr},           {"0xG0000", nullptr},
               {"_A", nullptr}};
  for (const Case& c : cases) {
    char suggestion[ADDRESS_SUGGESTION_SIZE] = "-";
    EXPECT_EQ(SuggestStartAddress(c.text, suggestion), c.suggestion != nullptr ? 1 : 0) << c.text;
    EXPECT_STREQ(suggestion, c.suggestion != nullptr ? c.suggestion : "-") << c.text;
  }
}

TEST(LooksLikeSrecordTest, AnSAndADigitBeginAnSRecordLine) {
  const std::uint8_t s3[] = {'S', '3', '1', '5'};
  const std::uint8_t image[] = {0x78, 0x56, 0x34, 0x12};
  const std::uint8_t letters[] = {'S', 'X'};
  EXPECT_EQ(LooksLikeSrecord(s3, sizeof s3), 1);
  EXPECT_EQ(LooksLikeSrecord(s3, 1), 0);
  EXPECT_EQ(LooksLikeSrecord(image, sizeof image), 0);
  EXPECT_EQ(LooksLikeSrecord(letters, sizeof letters), 0);
}

TEST(ParseHex7Test, ReadsSevenDigitsOfEitherCaseMostSignificantFirst) {
  std::uint32_t value = 1;
  EXPECT_EQ(ParseHex7("ABCdef1", &value), 1);
  EXPECT_EQ(value, 0xABCDEF1u);
  EXPECT_EQ(ParseHex7("0000000", &value), 1);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(ParseHex7("1234567xyz", &value), 1) << "only seven characters are looked at";
  EXPECT_EQ(value, 0x1234567u);
  EXPECT_EQ(ParseHex7("12345", &value), 0) << "the NUL is not a digit";
  EXPECT_EQ(ParseHex7("123 567", &value), 0);
  EXPECT_EQ(ParseHex7("g000000", &value), 0);
}

class FileChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/jobchecksXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_cwd_), 0);
    for (const std::string& f : made_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }
  std::string make(const std::string& name, std::size_t size) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << std::string(size, '\xFF');
    made_.push_back(dir_ + "/" + name);
    return dir_ + "/" + name;
  }
  std::string dir_;
  char old_cwd_[1024];
  std::vector<std::string> made_;
};

TEST_F(FileChecksTest, CompletePathMakesARelativePathAbsolute) {
  char path[JOB_PATH_SIZE] = "image.bin";
  EXPECT_EQ(CompletePath(path), 1);
  EXPECT_EQ(std::string(path), dir_ + "/image.bin");
  char absolute[JOB_PATH_SIZE] = "/somewhere/else.bin";
  EXPECT_EQ(CompletePath(absolute), 1);
  EXPECT_STREQ(absolute, "/somewhere/else.bin");
}

TEST_F(FileChecksTest, CompletePathRefusesEmptyAndDotlessPaths) {
  char empty[JOB_PATH_SIZE] = "";
  EXPECT_EQ(CompletePath(empty), 0);
  char dotless[JOB_PATH_SIZE] = "image";
  EXPECT_EQ(CompletePath(dotless), 0);
  EXPECT_STREQ(dotless, "image");
}

TEST_F(FileChecksTest, CompletePathLeavesAPathWithAColonAsItIs) {
  char path[JOB_PATH_SIZE] = "D:image.bin";
  EXPECT_EQ(CompletePath(path), 1);
  EXPECT_STREQ(path, "D:image.bin");
}

TEST_F(FileChecksTest, CompletePathRefusesPathsLongerThan255Bytes) {
  char path[JOB_PATH_SIZE];
  // Fits exactly: 255 bytes once completed.
  const std::size_t room = 255 - dir_.size() - 1;
  std::string name = std::string(room - 4, 'n') + ".bin";
  std::strcpy(path, name.c_str());
  EXPECT_EQ(CompletePath(path), 1);
  EXPECT_EQ(std::strlen(path), 255u);
  // One byte more is refused, and the text is left alone.
  name = "n" + name;
  std::strcpy(path, name.c_str());
  EXPECT_EQ(CompletePath(path), 0);
  EXPECT_EQ(std::string(path), name);
  std::string colon = "D:" + std::string(300, 'x') + ".bin";
  std::strcpy(path, colon.c_str());
  EXPECT_EQ(CompletePath(path), 0);
  // The longest text the dialog can give does not overrun.
  std::memset(path, 'a', JOB_PATH_SIZE - 1);
  path[10] = '.';
  path[JOB_PATH_SIZE - 1] = '\0';
  EXPECT_EQ(CompletePath(path), 0);
}

TEST_F(FileChecksTest, CheckImageFileWantsWholeBlocksOf2048BytesUpToTheLargestImage) {
  EXPECT_EQ(CheckImageFile(make("a.bin", 2048).c_str()), 0);
  EXPECT_EQ(CheckImageFile(make("b.bin", 4096).c_str()), 0);
  EXPECT_EQ(CheckImageFile(make("c.bin", 0).c_str()), 2);
  EXPECT_EQ(CheckImageFile(make("d.bin", 3000).c_str()), 2);
  EXPECT_EQ(CheckImageFile(make("e.bin", 512).c_str()), 2);
  EXPECT_EQ(CheckImageFile(make("full.bin", 1024 * 2048).c_str()), 0);
  EXPECT_EQ(CheckImageFile(make("over.bin", 1025 * 2048).c_str()), 2);
  // 4 GiB + 2 KiB, sparse: measured on 64 bits, not taken for 2048 bytes.
  const std::string huge = make("huge.bin", 0);
  ASSERT_EQ(truncate(huge.c_str(), (off_t{1} << 32) + 2048), 0);
  EXPECT_EQ(CheckImageFile(huge.c_str()), 2);
  EXPECT_EQ(CheckImageFile((dir_ + "/missing.bin").c_str()), 1);
  EXPECT_EQ(CheckImageFile(dir_.c_str()), 1) << "a folder is not an image file";
  // A FIFO without a writer is refused at once instead of holding the open.
  const std::string fifo = dir_ + "/fifo.bin";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  made_.push_back(fifo);
  EXPECT_EQ(CheckImageFile(fifo.c_str()), 1);
  EXPECT_EQ(CheckImageFile("/dev/zero"), 1) << "a device is not an image file";
}

TEST_F(FileChecksTest, CheckImageFileKeepsTheBytesItChecked) {
  std::vector<std::uint8_t> snapshot{1, 2, 3};
  const std::string path = make("s.bin", 4096);
  EXPECT_EQ(CheckImageFile(path.c_str(), &snapshot), 0);
  EXPECT_EQ(snapshot, std::vector<std::uint8_t>(4096, 0xFF));
  EXPECT_EQ(CheckImageFile(make("t.bin", 3000).c_str(), &snapshot), 2);
  EXPECT_TRUE(snapshot.empty()) << "no bytes of a refused file";
}

TEST_F(FileChecksTest, AFileHeldLockedByAnotherOpenerCannotBeOpened) {
  const std::string path = make("held.bin", 2048);
  const int other = open(path.c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  EXPECT_EQ(CheckImageFile(path.c_str()), 1);
  std::vector<std::uint8_t> bytes;
  const zp3k::Status held = zp3k::read_regular_file(path.c_str(), zp3k::Sharing::READERS_ONLY, 4096, &bytes);
  EXPECT_EQ(held.result, zp3k::Result::IN_USE);
  EXPECT_EQ(zp3k::status_words(held), "locked by another program");
  // A source a text editor may hold is read whatever the lock.
  EXPECT_TRUE(zp3k::read_regular_file(path.c_str(), zp3k::Sharing::WITH_WRITERS, 4096, &bytes).ok());
  close(other);
  EXPECT_EQ(CheckImageFile(path.c_str()), 0);
}

// A regular file read whole up to a limit (its first bytes kept past it),
// anything else refused with its kind and words.
TEST_F(FileChecksTest, RegularFilesAreReadWholeAndTheRestRefused) {
  const std::string fifo = dir_ + "/reader.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  made_.push_back(fifo);
  const struct {
    std::string path;
    std::size_t limit;
    zp3k::Result result;
    std::size_t kept;
    const char* words;
  } rows[] = {
      {make("r.bin", 1000), 1000, zp3k::Result::OK, 1000, ""},
      {make("s.bin", 1001), 1000, zp3k::Result::TOO_LARGE, 1000, "too large"},
      {dir_ + "/missing.bin", 1000, zp3k::Result::NOT_FOUND, 0, "No such file or directory"},
      {dir_, 1000, zp3k::Result::WRONG_KIND, 0, "Is a directory"},
      {fifo, 1000, zp3k::Result::WRONG_KIND, 0, "not a regular file"},
      {"/dev/zero", 1000, zp3k::Result::WRONG_KIND, 0, "not a regular file"},
  };
  for (const auto& r : rows) {
    std::vector<std::uint8_t> bytes{1, 2, 3};
    const zp3k::Status status = zp3k::read_regular_file(r.path.c_str(), zp3k::Sharing::READERS_ONLY, r.limit, &bytes);
    EXPECT_EQ(status.result, r.result) << r.path;
    EXPECT_EQ(bytes.size(), r.kept) << r.path;
    EXPECT_EQ(zp3k::status_words(status), r.words) << r.path;
  }
}

}  // namespace
}  // namespace imgload
