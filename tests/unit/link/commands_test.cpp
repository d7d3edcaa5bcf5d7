// Every request byte for byte with its reply countdown, the image check
// value, and the judgements of the "AD" and "AB" replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_port.h"
#include "imgload/link/commands.h"

namespace imgload {
namespace {

using testing::Bytes;
using testing::FakePort;
using testing::to_bytes;

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link.open("COM1", 9600).ok()); }
  // The one frame written since the last call, as text.
  std::string last_frame() {
    const std::vector<Bytes>& w = port.writes();
    EXPECT_EQ(w.size(), seen + 1);
    seen = w.size();
    return w.empty() ? std::string() : std::string(w.back().begin(), w.back().end());
  }
  // Puts a reply into the reply buffer through the plain reader.
  void store_reply(const std::string& r) {
    port.queue_bytes(r);
    link.countdown().set(1);
    ASSERT_NE(link.read_reply(), REPLY_WAIT);
  }
  // A reply read by the data reader.
  void store_data_reply(const std::string& r) {
    port.queue_bytes(r);
    link.countdown().set(1);
    ASSERT_EQ(link.read_data_reply(), REPLY_OK);
  }

  FakePort port;
  ReplyCountdown reply_countdown;
  Link link{port, reply_countdown};
  std::size_t seen = 0;
};

std::string framed(const std::string& between) { return "\x05" + between + "\r"; }

TEST_F(CommandTest, FixedRequestsAreByteExactWithTheirCountdowns) {
  send_model_request(link);
  EXPECT_EQ(last_frame(), framed("00FFAD00"));
  EXPECT_EQ(reply_countdown.value(), 1);
  send_mode_request(link, "06");
  EXPECT_EQ(last_frame(), framed("00FFAA0603"));
  EXPECT_EQ(reply_countdown.value(), 1);
  send_mode_request(link, "07");
  EXPECT_EQ(last_frame(), framed("00FFAA0702"));
  send_mode_query(link);
  EXPECT_EQ(last_frame(), framed("00FFAB06"));
  EXPECT_EQ(reply_countdown.value(), 10);
  send_finish_request(link);
  EXPECT_EQ(last_frame(), framed("00FFAG03"));
  EXPECT_EQ(reply_countdown.value(), 1);
  reply_countdown.set(0);
  send_run_request(link);
  EXPECT_EQ(last_frame(), framed("00FFAA0104"));
  EXPECT_EQ(reply_countdown.value(), 1);

  const char* speeds[] = {"00FFEF061203", "00FFEF071202", "00FFEF08120D", "00FFEF09120C",
                          "00FFEF0A1274"};
  for (int index = 0; index < 5; ++index) {
    reply_countdown.set(0);
    send_speed_request(link, index + 6);
    EXPECT_EQ(last_frame(), framed(speeds[index])) << index;
    EXPECT_EQ(reply_countdown.value(), 1);
  }
}

TEST_F(CommandTest, AnnounceRequest) {
  send_announce_request(link, 0x8000, 0x10000);
  EXPECT_EQ(last_frame(), framed("00FFFG" "00008000" "00010000" "0D"));
  EXPECT_EQ(reply_countdown.value(), 60);
  send_announce_request(link, 0, 0x200000);
  const std::string f = last_frame();
  ASSERT_EQ(f.size(), 26u);
  EXPECT_EQ(f.substr(7, 16), "0000000000200000");
}

TEST_F(CommandTest, FirstDataRequestOfZeroBytes) {
  std::uint8_t block[DATA_BLOCK_SIZE] = {};
  std::uint32_t check = 0;
  send_data_request(link, 1, block, &check);
  const std::string f = last_frame();
  EXPECT_EQ(f, "\x05" "00FFFD00010200" + std::string(512, '\0') + "04\r");
  EXPECT_EQ(f.size(), 530u);
  EXPECT_EQ(reply_countdown.value(), 30);
  EXPECT_EQ(check, 0u);
}

TEST_F(CommandTest, DataBytesTravelUnchangedAndAreCoveredByTheBcc) {
  std::uint8_t block[DATA_BLOCK_SIZE];
  for (int i = 0; i < DATA_BLOCK_SIZE; ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 3);
  block[0] = 0x0D;
  block[100] = 0x0D;
  block[511] = 0x05;
  std::uint32_t check = 0;
  send_data_request(link, 0x12345, block, &check);  // low 16 bits of the number
  const std::string f = last_frame();
  ASSERT_EQ(f.size(), 530u);
  EXPECT_EQ(f.substr(0, 15), "\x05" "00FFFD23450200");
  EXPECT_EQ(std::memcmp(f.data() + 15, block, DATA_BLOCK_SIZE), 0);
  EXPECT_EQ(f.substr(527), "40\r");

  // Changing one data byte changes the BCC by that byte's change, 0D to 0C.
  block[100] = 0x0C;
  send_data_request(link, 0x12345, block, &check);
  EXPECT_EQ(last_frame().substr(527), "41\r");
}

TEST_F(CommandTest, EndRequest) {
  send_end_request(link, 0x89ABCDEF);
  EXPECT_EQ(last_frame(), framed("00FFFDFFFF000089ABCDEF01"));
  EXPECT_EQ(reply_countdown.value(), 35);
}

TEST(CheckValue, FoldsLittleEndianWordsOfEachBlock) {
  std::uint8_t block[DATA_BLOCK_SIZE] = {};
  block[0] = 0x78;
  block[1] = 0x56;
  block[2] = 0x34;
  block[3] = 0x12;
  block[508] = 0x01;
  std::uint32_t check = 0xFFFF0000;
  fold_check_value(block, &check);
  EXPECT_EQ(check, 0xFFFF0000u ^ 0x12345678u ^ 0x00000001u);
}

TEST(CheckValue, ConverterImageFoldsToMagicXorLength) {
  // One 2048-byte image: header of a converted file, every other byte 0xFF.
  std::vector<std::uint8_t> image(2048, 0xFF);
  const std::uint8_t header[] = {0x78, 0x56, 0x34, 0x12, 0xF4, 0x07, 0x00, 0x00, 0x71, 0x48, 0xBF,
                                 0xBB, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x10, 0x00, 0x00, 0x08,
                                 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x61,
                                 0x62, 0x63, 0x00};
  std::memcpy(image.data(), header, sizeof header);
  image[256] = 0x11;
  image[257] = 0x22;
  image[258] = 0x33;
  image[259] = 0x44;
  std::uint32_t check = 0;
  for (int b = 0; b < 4; ++b) fold_check_value(image.data() + b * DATA_BLOCK_SIZE, &check);
  EXPECT_EQ(check, 0x1234518Cu);
  EXPECT_EQ(check, 0x12345678u ^ 2036u);
}

TEST_F(CommandTest, DataRequestsFoldIntoTheCheckValue) {
  std::uint8_t block[DATA_BLOCK_SIZE];
  std::memset(block, 0xA5, sizeof block);
  std::uint32_t sent = 7;
  std::uint32_t folded = 7;
  send_data_request(link, 1, block, &sent);
  fold_check_value(block, &folded);
  EXPECT_EQ(sent, folded);
  EXPECT_EQ(sent, 7u);  // 128 equal words cancel in pairs
  block[4] = 0;
  send_data_request(link, 2, block, &sent);
  EXPECT_EQ(sent, 7u ^ 0xA5A5A5A5u ^ 0xA5A5A500u);
}

TEST(Mode, ChosenByTheStartAddress) {
  EXPECT_STREQ(mode_for_address(0), "07");
  EXPECT_STREQ(mode_for_address(0x8000), "06");
  EXPECT_STREQ(mode_for_address(0x100000), "06");
}

TEST_F(CommandTest, ModelReplyStatusesOtherThanOk) {
  const std::uint32_t addresses[] = {0x100000};
  int refused = 0;
  EXPECT_EQ(judge_model_reply(link, REPLY_WAIT, addresses, 1, &refused), JUDGE_WAIT);
  EXPECT_EQ(judge_model_reply(link, REPLY_TIMEOUT, addresses, 1, &refused), JUDGE_FAILED);
  EXPECT_EQ(judge_model_reply(link, REPLY_BCC, addresses, 1, &refused), JUDGE_FAILED);
  EXPECT_EQ(refused, 0);
}

TEST_F(CommandTest, ModelByteThatIsNotUpperCaseHexIsABadModel) {
  const std::uint32_t addresses[] = {0x8000};
  int refused = 0;
  for (const char* digits : {"3a", "G0", "0 "}) {
    store_reply(std::string("\x06" "00FFAD") + digits + "00\r");
    EXPECT_EQ(judge_model_reply(link, REPLY_OK, addresses, 1, &refused), JUDGE_BAD_MODEL) << digits;
  }
}

TEST_F(CommandTest, ExternalFlashBitsAcceptEveryAddress) {
  const std::uint32_t addresses[] = {0x100000, 0x1F0000, 0x8000};
  int refused = 0;
  for (const char* digits : {"30", "F0", "08", "0F", "38"}) {
    store_reply(std::string("\x06" "00FFAD") + digits + "00\r");
    EXPECT_EQ(judge_model_reply(link, REPLY_OK, addresses, 3, &refused), JUDGE_ACCEPTED) << digits;
  }
  EXPECT_EQ(refused, 0);
}

TEST_F(CommandTest, WithoutExternalFlashTheFirstExternalEntryIsRefused) {
  for (const char* digits : {"10", "20", "00", "C7"}) {
    store_reply(std::string("\x06" "00FFAD") + digits + "00\r");
    int refused = 0;
    const std::uint32_t low[] = {0x8000, 0x0FFFFF, 0x1F0001};
    EXPECT_EQ(judge_model_reply(link, REPLY_OK, low, 3, &refused), JUDGE_ACCEPTED) << digits;
    const std::uint32_t mixed[] = {0x8000, 0x100000, 0x1F0000};
    int model = -1;
    EXPECT_EQ(judge_model_reply(link, REPLY_OK, mixed, 3, &refused, &model), JUDGE_NO_EXTERNAL) << digits;
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(model, std::stoi(digits, nullptr, 16)) << "the model byte read";
  }
  // The last address of the range, as entry 3; entries past the count are
  // not looked at.
  store_reply("\x06" "00FFAD1000\r");
  int refused = 0;
  const std::uint32_t last[] = {0, 0x8000, 0x1F0000};
  EXPECT_EQ(judge_model_reply(link, REPLY_OK, last, 2, &refused), JUDGE_ACCEPTED);
  EXPECT_EQ(judge_model_reply(link, REPLY_OK, last, 3, &refused), JUDGE_NO_EXTERNAL);
  EXPECT_EQ(refused, 3);
}

TEST_F(CommandTest, ModeReplyComparesTheReplyCode) {
  EXPECT_EQ(judge_mode_reply(link, REPLY_WAIT, "06"), JUDGE_WAIT);
  EXPECT_EQ(judge_mode_reply(link, REPLY_TIMEOUT, "06"), JUDGE_FAILED);
  EXPECT_EQ(judge_mode_reply(link, REPLY_BCC, "06"), JUDGE_FAILED);
  store_data_reply("\x06" "00FF06" "00\r");
  EXPECT_EQ(judge_mode_reply(link, REPLY_OK, "06"), JUDGE_ACCEPTED);
  EXPECT_EQ(judge_mode_reply(link, REPLY_OK, "07"), JUDGE_OTHER_MODE);
  store_data_reply("\x06" "00FF60" "00\r");
  EXPECT_EQ(judge_mode_reply(link, REPLY_OK, "06"), JUDGE_OTHER_MODE);
}

TEST_F(CommandTest, ModeReplyThroughTheDataReader) {
  // The reply code comes from offsets 5 and 6 of the reply read.
  reply_countdown.set(10);
  port.queue_bytes("\x06" "00FF0701\r");  // BCC of ACK 00FF07 is 01
  const ReplyStatus status = link.read_data_reply();
  ASSERT_EQ(status, REPLY_OK);
  EXPECT_EQ(judge_mode_reply(link, status, mode_for_address(0)), JUDGE_ACCEPTED);
  EXPECT_EQ(judge_mode_reply(link, status, mode_for_address(0x8000)), JUDGE_OTHER_MODE);
}

}  // namespace
}  // namespace imgload
