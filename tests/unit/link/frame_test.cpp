// Frame building, BCC, hexadecimal digits and the judgement of a whole reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_port.h"
#include "imgload/link/frame.h"
#include "imgload/link/link.h"

namespace imgload {
namespace {

using testing::FakePort;
using testing::to_bytes;

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(link.open("COM1", 9600).ok()); }
  FakePort port;
  ReplyCountdown countdown;
  Link link{port, countdown};
};

TEST_F(FrameTest, ModelRequestIsTheWorkedExample) {
  EXPECT_EQ(link.send_frame("AD", nullptr, 0), 10);
  ASSERT_EQ(port.writes().size(), 1u);
  EXPECT_EQ(port.writes()[0], to_bytes("\x05" "00FFAD00\r"));
}

TEST_F(FrameTest, RequestBccCoversTheEnqAndEveryField) {
  const std::uint8_t fields[] = {'1', '2', 0x0D, 0xFF};
  EXPECT_EQ(link.send_frame("ZZ", fields, 4), 14);
  // A raw CR inside the fields travels as it is. BCC F4 takes in the ENQ:
  // without it the digits would be F1.
  ASSERT_EQ(port.writes().size(), 1u);
  EXPECT_EQ(port.writes()[0], to_bytes("\x05" "00FFZZ12\x0D\xFF" "F4\r"));
}

TEST_F(FrameTest, OversizedFieldsAreNotSent) {
  static std::uint8_t fields[FRAME_BUFFER_SIZE] = {};
  EXPECT_EQ(link.send_frame("FD", fields, FRAME_BUFFER_SIZE - 9), 0);
  EXPECT_TRUE(port.writes().empty());
  EXPECT_EQ(link.send_frame("FD", fields, FRAME_BUFFER_SIZE - 10), FRAME_BUFFER_SIZE);
}

TEST(HexDigits, WritesUpperCaseMostSignificantFirst) {
  char out[9];
  to_hex_digits(0x3A, 2, out);
  EXPECT_STREQ(out, "3A");
  to_hex_digits(0x1AB, 2, out);  // only the low 4 x count bits
  EXPECT_STREQ(out, "AB");
  to_hex_digits(-1, 2, out);
  EXPECT_STREQ(out, "FF");
  to_hex_digits(static_cast<int>(0x89ABCDEFu), 8, out);
  EXPECT_STREQ(out, "89ABCDEF");
  to_hex_digits(0x0A, 4, out);
  EXPECT_STREQ(out, "000A");
}

TEST(HexDigits, ParseAcceptsOnlyUpperCaseDigits) {
  std::uint8_t v = 0;
  EXPECT_EQ(parse_hex_byte("3A", &v), 1);
  EXPECT_EQ(v, 0x3A);
  EXPECT_EQ(parse_hex_byte("3a", &v), 0);
  EXPECT_EQ(parse_hex_byte("a3", &v), 0);
  EXPECT_EQ(parse_hex_byte("G0", &v), 0);
  EXPECT_EQ(parse_hex_byte("0/", &v), 0);
  EXPECT_EQ(parse_hex_byte(":0", &v), 0);
  EXPECT_EQ(parse_hex_byte("0@", &v), 0);
  for (int b = 0; b < 256; ++b) {
    char text[3];
    to_hex_digits(b, 2, text);
    ASSERT_EQ(parse_hex_byte(text, &v), 1) << text;
    EXPECT_EQ(v, b);
  }
}

// The BCC of a reply as the controller sends it.
ReplyStatus check(const std::string& reply, char* code) {
  return check_reply_bcc(reinterpret_cast<const std::uint8_t*>(reply.data()),
                         static_cast<int>(reply.size()), code);
}

TEST(ReplyBcc, AcceptsACorrectReplyAndKeepsItsCode) {
  char code[3] = {};
  EXPECT_EQ(check("\x06" "00FFAB06" "03\r", code), REPLY_OK);
  EXPECT_STREQ(code, "AB");
}

TEST(ReplyBcc, CoversTheFirstByteAndRefusesLowerCaseDigits) {
  char code[3] = {};
  // 71 is the BCC of this reply with ACK in front, not with NAK.
  EXPECT_EQ(check("\x15" "00FFAD3A" "71\r", code), REPLY_BCC);
  EXPECT_EQ(code[0], '\0');  // unchanged on a refusal
  EXPECT_EQ(check("\x06" "00FFAD3A" "71\r", code), REPLY_OK);
  // ACK "00FFAB" and 0xAE XOR to 0xAB: the digits "AB", refused as "ab".
  EXPECT_EQ(check("\x06" "00FFAB\xAE" "AB\r", code), REPLY_OK);
  EXPECT_EQ(check("\x06" "00FFAB\xAE" "ab\r", code), REPLY_BCC);
}

TEST(ReplyBcc, RefusesRepliesTooShortToCarryACode) {
  char code[3] = {};
  // Offsets 5 and 6 must lie in the reply, before its BCC: 10 bytes at least.
  const std::uint8_t lone_cr[] = {0x0D};
  EXPECT_EQ(check_reply_bcc(lone_cr, 1, code), REPLY_BCC);
  EXPECT_EQ(check_reply_bcc(lone_cr, 0, code), REPLY_BCC);
  EXPECT_EQ(check_reply_bcc(nullptr, 10, code), REPLY_BCC);
  // "00" CR: an empty XOR that matches its digits, but no code; then ACK
  // and zeros with their right BCC, 4 to 9 bytes long.
  for (const char* reply : {"00\r", "\x06" "06\r", "\x06" "0" "36\r", "\x06" "00" "06\r",
                            "\x06" "000" "36\r", "\x06" "0000" "06\r", "\x06" "00000" "36\r"}) {
    EXPECT_EQ(check(reply, code), REPLY_BCC) << std::strlen(reply);
  }
  EXPECT_EQ(check("\x06" "12FFAB" "06\r", code), REPLY_OK);
  EXPECT_STREQ(code, "AB");
}

}  // namespace
}  // namespace imgload
