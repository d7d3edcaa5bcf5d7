// Tests of the converter's readers: hexadecimal fields, version text, S-record lines, command line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "imgconv/command_line.h"
#include "imgconv/convert.h"
#include "imgconv/image_format.h"
#include "imgconv/srecord_line.h"

using namespace imgconv;

TEST(HexDigits, BothCasesAndUncheckedDigits) {
  EXPECT_EQ(hex_digit_value('0'), 0);
  EXPECT_EQ(hex_digit_value('9'), 9);
  EXPECT_EQ(hex_digit_value('A'), 10);
  EXPECT_EQ(hex_digit_value('f'), 15);
  // Other characters are not refused: c - 0x30 of the byte value.
  EXPECT_EQ(hex_digit_value('G'), 'G' - 0x30);
  EXPECT_EQ(hex_digit_value(' '), -16);
  EXPECT_EQ(hex_digit_value(static_cast<char>(0xE0)), 0xE0 - 0x30);
  EXPECT_EQ(parse_hex32("00100100"), 0x00100100u);
  EXPECT_EQ(parse_hex32("deadBEEF"), 0xDEADBEEFu);
  EXPECT_EQ(parse_hex32("FFFFFFFF"), 0xFFFFFFFFu);
}

TEST(VersionText, ValidTexts) {
  struct Case { const char* text; std::uint16_t value; } cases[] = {
      {"1.23", 0x0123}, {"0.00", 0x0000}, {"9.99_F", 0xF999}, {"1.23_A", 0xA123},
      {"1.23_f", 0xF123}, {"1.00", 0x0100}, {"1.23_0", 0x0123}};
  for (const auto& c : cases) {
    std::uint16_t v = 0xBEEF;
    EXPECT_TRUE(parse_version_text(c.text, &v)) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(VersionText, InvalidTexts) {
  for (const char* text : {"", "1.2", "1.234", "1.23_", "12.34", "1,23", "1.2a", "1.23_G",
                           "a.23", "1.23-A", "1.23_AB", " 1.23", "1.23 ", "1:23", "1.23_g"}) {
    std::uint16_t v = 0;
    EXPECT_FALSE(parse_version_text(text, &v)) << '"' << text << '"';
  }
}

TEST(SRecordLine, TypesBySecondCharacter) {
  EXPECT_EQ(read_srecord_line("S00600004844521B\n").kind, RECORD_SKIP);
  EXPECT_EQ(read_srecord_line("S70500000000FA\r\n").kind, RECORD_SKIP);
  EXPECT_EQ(read_srecord_line("S0").kind, RECORD_SKIP);
  for (const char* bad : {"\n", "\r\n", "", "S", "S1130000", "S2", "S5030000FC", "S8", "S9030000FC",
                          "s4", "S\n3"}) {
    EXPECT_EQ(read_srecord_line(bad).kind, RECORD_BAD) << bad;
  }
  // The first character is not examined.
  SRecordLine x3 = read_srecord_line("X30900100100112233443B\n");
  ASSERT_EQ(x3.kind, RECORD_DATA);
  EXPECT_EQ(x3.address, 0x00100100u);
}

TEST(SRecordLine, DataFieldsByPosition) {
  const char* line = "S30900100100112233443B\r\n";
  SRecordLine rec = read_srecord_line(line);
  ASSERT_EQ(rec.kind, RECORD_DATA);
  EXPECT_EQ(rec.address, 0x00100100u);
  ASSERT_EQ(rec.data_count, 4);
  EXPECT_EQ(rec.data, line + 12);
  std::uint8_t bytes[4];
  decode_srecord_data(rec, bytes);
  EXPECT_EQ(bytes[0], 0x11);
  EXPECT_EQ(bytes[3], 0x44);
  // Digits are not checked: "G0" is ('G' - 0x30) * 16, cut to 8 bits; both cases read alike.
  SRecordLine odd = read_srecord_line("S30700008000G0a0");
  ASSERT_EQ(odd.kind, RECORD_DATA);
  decode_srecord_data(odd, bytes);
  EXPECT_EQ(bytes[0], static_cast<std::uint8_t>(('G' - 0x30) * 16));
  EXPECT_EQ(bytes[1], 0xA0);
  // The record checksum is neither needed nor verified.
  EXPECT_EQ(read_srecord_line("S3090010010011223344").kind, RECORD_DATA);
  EXPECT_EQ(read_srecord_line("S30900100100112233440000").kind, RECORD_DATA);
  // A record without data bytes.
  SRecordLine empty = read_srecord_line("S30500008000FA");
  ASSERT_EQ(empty.kind, RECORD_DATA);
  EXPECT_EQ(empty.data_count, 0);
}

TEST(SRecordLine, RecordsThatDoNotFitTheirLineAreRefused) {
  // Byte count below 5.
  EXPECT_EQ(read_srecord_line("S30400008000FB\n").kind, RECORD_BAD);
  EXPECT_EQ(read_srecord_line("S30000008000FB\n").kind, RECORD_BAD);
  // Data running past the end of the line (the line end is not data).
  EXPECT_EQ(read_srecord_line("S309001001001122334\n").kind, RECORD_BAD);
  EXPECT_EQ(read_srecord_line("S30900100100112233\r\n").kind, RECORD_BAD);
  EXPECT_EQ(read_srecord_line("S3FF00100100").kind, RECORD_BAD);
  // Too short for the address.
  EXPECT_EQ(read_srecord_line("S3050010\n").kind, RECORD_BAD);
  // A NUL inside the line ends it.
  char with_nul[] = "S30900100100112233443B";
  with_nul[14] = '\0';
  EXPECT_EQ(read_srecord_line(with_nul).kind, RECORD_BAD);
}

TEST(ImageFormat, WordsAndHeaderDecoding) {
  std::uint8_t b[64];
  std::memset(b, 0xFF, sizeof b);
  store_le32(b, IMAGE_MAGIC);
  EXPECT_EQ(b[0], 0x78);
  EXPECT_EQ(b[3], 0x12);
  EXPECT_EQ(load_le32(b), IMAGE_MAGIC);
  b[24] = 0xA1;
  b[25] = 0x23;
  std::memcpy(b + 32, "abc", 4);
  ImageHeader h = decode_header(b);
  EXPECT_EQ(h.version, 0xA123);
  EXPECT_STREQ(h.comment, "abc");
  EXPECT_EQ(h.size, 0xFFFFFFFFu);
  // A comment without its NUL is cut at 30 bytes.
  std::memset(b + 32, 'x', 32);
  EXPECT_EQ(std::strlen(decode_header(b).comment), 30u);
  std::uint8_t words[8] = {1, 0, 0, 0, 0, 1, 0, 0};
  EXPECT_EQ(xor_words(words, 8), 0x101u);
  EXPECT_EQ(xor_words(words, 8, 0x101), 0u);
}

namespace {
struct Parsed {
  int result;
  CommandLineSlots slots;
};
Parsed parse(const std::string& line) {
  Parsed p{};
  p.result = parse_command_line(line.c_str(), &p.slots);
  return p;
}
}  // namespace

TEST(CommandLine, CompleteInAnyOrder) {
  Parsed p = parse("-Sa.hex -Dout -V1.00 -Ccomment");
  EXPECT_EQ(p.result, 4);
  EXPECT_STREQ(p.slots.value[SLOT_SOURCE], "a.hex");
  EXPECT_STREQ(p.slots.value[SLOT_DEST], "out");
  EXPECT_STREQ(p.slots.value[SLOT_VERSION], "1.00");
  EXPECT_STREQ(p.slots.value[SLOT_COMMENT], "comment");
  Parsed q = parse("-Ccomment -V1.00 -Dout -Sa.hex");
  EXPECT_EQ(q.result, 4);
  EXPECT_STREQ(q.slots.value[SLOT_SOURCE], "a.hex");
  EXPECT_STREQ(q.slots.value[SLOT_COMMENT], "comment");
}

TEST(CommandLine, PartialLinesCountTheirWords) {
  EXPECT_EQ(parse("").result, 0);
  EXPECT_EQ(parse("-Sa.hex").result, 1);
  EXPECT_EQ(parse("-S").result, 1);
  Parsed two = parse("-Sa.hex -Dout");
  EXPECT_EQ(two.result, 1);
  EXPECT_STREQ(two.slots.value[SLOT_DEST], "out");
  EXPECT_EQ(parse("-Sa.hex -Dout -V1.00").result, 2);
  // The fourth value is empty: 3, and with a trailing space 4.
  EXPECT_EQ(parse("-Sa.hex -Dout -V1.00 -C").result, 3);
  Parsed trailing = parse("-Sa.hex -Dout -V1.00 -C ");
  EXPECT_EQ(trailing.result, 4);
  EXPECT_STREQ(trailing.slots.value[SLOT_COMMENT], "");
}

TEST(CommandLine, RefusedLinesGiveZero) {
  for (const char* line : {"-Sa.hex -Sb.hex", "-sa.hex", "a.hex", "-Sa.hex -", "-", "-Xa",
                           "-Sa.hex -Dmy out -V1.00 -Cc", "\"-Sa.hex\"", " x"}) {
    EXPECT_EQ(parse(line).result, 0) << line;
  }
}

TEST(CommandLine, SeparatorsAndTheEndOfTheScan) {
  // A space inside the fourth value ends the scan there.
  Parsed p = parse("-Sa.hex -Dout -V1.00 -Cmy comment");
  EXPECT_EQ(p.result, 4);
  EXPECT_STREQ(p.slots.value[SLOT_COMMENT], "my");
  // A fifth word is ignored, whatever it holds.
  EXPECT_EQ(parse("-Sa.hex -Dout -V1.00 -Cc -Sx.hex").result, 4);
  EXPECT_EQ(parse("-Sa.hex -Dout -V1.00 -Cc junk").result, 4);
  // Two spaces are two separators: the third value makes the line complete.
  Parsed twice = parse("-Sa.hex  -Dout -V1.00");
  EXPECT_EQ(twice.result, 4);
  EXPECT_STREQ(twice.slots.value[SLOT_VERSION], "1.00");
  EXPECT_EQ(parse("-Sa.hex -Dout -V1.00  -Cc").result, 4);
  // Only the space separates; a tab and quotes belong to the value.
  Parsed tab = parse("-Sa\tb.hex -D\"o\"");
  EXPECT_EQ(tab.result, 1);
  EXPECT_STREQ(tab.slots.value[SLOT_SOURCE], "a\tb.hex");
  EXPECT_STREQ(tab.slots.value[SLOT_DEST], "\"o\"");
}

TEST(CommandLine, LongLinesAreCutNeverOverrun) {
  std::string long_value(2000, 'x');
  Parsed p = parse("-S" + long_value);
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(std::strlen(p.slots.value[SLOT_SOURCE]), COMMAND_LINE_SIZE - 1 - 2u);
  // A line cut at the buffer loses what follows.
  Parsed cut = parse("-Sa.hex -D" + std::string(COMMAND_LINE_SIZE, 'd') + " -V1.00 -Cc");
  EXPECT_EQ(cut.result, 1);
  EXPECT_EQ(std::strlen(cut.slots.value[SLOT_DEST]), COMMAND_LINE_SIZE - 1 - 10u);
  EXPECT_STREQ(cut.slots.value[SLOT_VERSION], "");
}
