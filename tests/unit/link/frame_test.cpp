// Frame building, BCC, hexadecimal digits and the judgement of a whole reply.
#include <gtest/gtest.h>

#include <string>

#include "fake_port.h"
#include "imgload/link/frame.h"
#include "imgload/link/link.h"

namespace imgload {
namespace {

using testing::Bytes;
using testing::FakePort;
using testing::to_bytes;

// A reply with ACK, the given body and its correct BCC digits and CR.
std::string reply_with_bcc(const std::string& body, char first = '\x06') {
  std::string r = std::string(1, first) + body;
  unsigned bcc = 0;
  for (unsigned char c : r) bcc ^= c;
  const char* hex = "0123456789ABCDEF";
  r += hex[bcc >> 4];
  r += hex[bcc & 0xF];
  r += '\r';
  return r;
}

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.open("COM1", 9600));
  }
  FakePort port;
  ReplyCountdown countdown;
  Link link{port, countdown, nullptr};
};

TEST_F(FrameTest, ModelRequestIsTheWorkedExample) {
  EXPECT_EQ(link.send_frame("AD", nullptr, 0), 10);
  ASSERT_EQ(port.writes().size(), 1u);
  EXPECT_EQ(port.writes()[0], to_bytes("\x05" "00FFAD00\r"));
}

TEST_F(FrameTest, RequestBccCoversTheEnqAndEveryField) {
  const std::uint8_t fields[] = {'1', '2', 0x0D, 0xFF};
  EXPECT_EQ(link.send_frame("ZZ", fields, 4), 14);
  const Bytes& f = port.writes().at(0);
  ASSERT_EQ(f.size(), 14u);
  unsigned bcc = 0;
  for (int i = 0; i < 11; ++i) bcc ^= f[i];
  char digits[3];
  to_hex_digits(static_cast<int>(bcc), 2, digits);
  EXPECT_EQ(f[0], 0x05);
  EXPECT_EQ(f[9], 0x0D);  // a raw CR inside the fields travels as it is
  EXPECT_EQ(f[10], 0xFF);
  EXPECT_EQ(f[11], digits[0]);
  EXPECT_EQ(f[12], digits[1]);
  EXPECT_EQ(f[13], 0x0D);
  // Without the ENQ in the XOR the digits would differ.
  EXPECT_NE(bcc, bcc ^ 0x05u);
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

TEST(ReplyBcc, AcceptsACorrectReplyAndKeepsItsCode) {
  char code[3] = {};
  const std::string r = reply_with_bcc("00FFAB06");
  EXPECT_EQ(check_reply_bcc(reinterpret_cast<const std::uint8_t*>(r.data()),
                            static_cast<int>(r.size()), code),
            REPLY_OK);
  EXPECT_STREQ(code, "AB");
}

TEST(ReplyBcc, CoversTheFirstByteAndRefusesLowerCaseDigits) {
  char code[3] = {};
  std::string r = reply_with_bcc("00FFAD3A");
  r[0] = 0x15;  // the BCC was worked out with ACK in front
  EXPECT_EQ(check_reply_bcc(reinterpret_cast<const std::uint8_t*>(r.data()),
                            static_cast<int>(r.size()), code),
            REPLY_BCC);
  EXPECT_EQ(code[0], '\0');  // unchanged on a refusal

  // ACK "00FFAB" and 0xAE XOR to 0xAB: the digits "AB", sent as "ab".
  std::string ok = reply_with_bcc(std::string("00FFAB") + '\xAE');
  ASSERT_EQ(ok.substr(ok.size() - 3, 2), "AB");
  EXPECT_EQ(check_reply_bcc(reinterpret_cast<const std::uint8_t*>(ok.data()),
                            static_cast<int>(ok.size()), code),
            REPLY_OK);
  ok[ok.size() - 3] = 'a';
  ok[ok.size() - 2] = 'b';
  EXPECT_EQ(check_reply_bcc(reinterpret_cast<const std::uint8_t*>(ok.data()),
                            static_cast<int>(ok.size()), code),
            REPLY_BCC);
}

TEST(ReplyBcc, RefusesRepliesTooShortToCarryACode) {
  char code[3] = {};
  // Offsets 5 and 6 must lie in the reply, before its BCC: 10 bytes at least.
  const std::uint8_t lone_cr[] = {0x0D};
  EXPECT_EQ(check_reply_bcc(lone_cr, 1, code), REPLY_BCC);
  EXPECT_EQ(check_reply_bcc(lone_cr, 0, code), REPLY_BCC);
  EXPECT_EQ(check_reply_bcc(nullptr, 10, code), REPLY_BCC);
  // "00" CR: an empty XOR that matches its digits, but no code.
  const std::uint8_t three[] = {'0', '0', 0x0D};
  EXPECT_EQ(check_reply_bcc(three, 3, code), REPLY_BCC);
  for (int len = 4; len < 10; ++len) {
    std::string body(static_cast<std::size_t>(len - 4), '0');
    const std::string r = reply_with_bcc(body);
    ASSERT_EQ(static_cast<int>(r.size()), len);
    EXPECT_EQ(check_reply_bcc(reinterpret_cast<const std::uint8_t*>(r.data()), len, code), REPLY_BCC)
        << len;
  }
  const std::string shortest = reply_with_bcc("12FFAB");
  EXPECT_EQ(check_reply_bcc(reinterpret_cast<const std::uint8_t*>(shortest.data()), 10, code), REPLY_OK);
  EXPECT_STREQ(code, "AB");
}

}  // namespace
}  // namespace imgload
