// Tests of the converter's readers: hexadecimal fields, version text, S-record lines and
// the source's line splitter, command line; the SHA-256 of image bytes, and
// text from files made safe for JSON and for a terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/safe_text.h"
#include "image/sha256.h"
#include "imgconv/command_line.h"
#include "imgconv/convert.h"
#include "image/image_format.h"
#include "imgconv/srecord_line.h"
#include "test_files.h"

using namespace image;  // the image format

using namespace imgconv;

// Pairs of digits of either case: the bytes and their sum exact, nothing
// written past them, and a character that is no hex digit found at every
// position.
TEST(HexDigits, PairsDecodedAndEveryBadPositionFound) {
  const std::string text = "0123456789ABCDEFabcdef";
  const std::vector<std::uint8_t> expected = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB,
                                              0xCD, 0xEF, 0xAB, 0xCD, 0xEF};
  std::vector<std::uint8_t> out(12, 0xA5);
  unsigned sum = 7;
  ASSERT_TRUE(decode_hex_pairs(text.data(), 11, out.data(), &sum));
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 11), expected);
  EXPECT_EQ(out[11], 0xA5) << "nothing written past the bytes";
  EXPECT_EQ(sum, 7u + 1575u);
  EXPECT_TRUE(decode_hex_pairs(text.data(), 0, out.data(), &sum));
  for (std::size_t at = 0; at < text.size(); ++at) {
    for (char bad : {'G', 'g', '/', ':', '@', '`', ' ', '\x10', '\x80'}) {
      std::string spoiled = text;
      spoiled[at] = bad;
      unsigned ignored = 0;
      EXPECT_FALSE(decode_hex_pairs(spoiled.data(), 11, out.data(), &ignored))
          << int(static_cast<unsigned char>(bad)) << " at " << at;
    }
  }
}

// The standard vectors of FIPS 180-4, and lengths around the padding's
// block boundary (55, 56, 64 bytes) checked against the one-block case.
TEST(Sha256, StandardVectors) {
  struct Row {
    std::string message;
    const char* digest;
  };
  const Row rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
  };
  for (const Row& r : rows) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(r.message.data());
    EXPECT_EQ(zp3k::sha256_hex(bytes, r.message.size()), r.digest) << r.message.size() << " bytes";
  }
}

// Bytes from a file name or an image comment: JSON gets valid UTF-8 (each
// byte outside it one U+FFFD), a terminal no control character raw.
TEST(SafeText, JsonAndTerminalForms) {
  const struct {
    std::string bytes;
    bool utf8;
    const char* json;
    const char* terminal;
  } rows[] = {
      {"plain \\dir\\a.bin", true, "\"plain \\\\dir\\\\a.bin\"", "plain \\dir\\a.bin"},
      {"bad\xff.bin", false, "\"bad\\ufffd.bin\"", "bad\\xff.bin"},
      {"\x1b]0;title\x07\x1b[2J", true, "\"\\u001b]0;title\\u0007\\u001b[2J\"",
       "\\x1b]0;title\\x07\\x1b[2J"},
      {"a\x01\t\"\x7f", true, "\"a\\u0001\\t\\\"\\u007f\"", "a\\x01\\x09\"\\x7f"},
      {"\xc2\x9b" "31m \xc2\xa0", true, "\"\xc2\x9b" "31m \xc2\xa0\"", "\\xc2\\x9b" "31m \xc2\xa0"},
      {"日本語", true, "\"日本語\"", "日本語"},
      {"\xc0\xaf \xe0\x80\xaf", false, "\"\\ufffd\\ufffd \\ufffd\\ufffd\\ufffd\"",
       "\\xc0\\xaf \\xe0\\x80\\xaf"},                       // overlong '/'
      {"\xed\xa0\x80", false, "\"\\ufffd\\ufffd\\ufffd\"", "\\xed\\xa0\\x80"},  // a surrogate
      {"\xf4\x90\x80\x80", false, "\"\\ufffd\\ufffd\\ufffd\\ufffd\"",
       "\\xf4\\x90\\x80\\x80"},                                // past U+10FFFF
      {"\xe6\x97", false, "\"\\ufffd\\ufffd\"", "\\xe6\\x97"},  // cut short at the end
      {"\xf0\x9f\x98\x80", true, "\"\xf0\x9f\x98\x80\"", "\xf0\x9f\x98\x80"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(zp3k::valid_utf8(r.bytes), r.utf8) << zp3k::hex_bytes(r.bytes);
    EXPECT_EQ(zp3k::json_string(r.bytes), r.json) << zp3k::hex_bytes(r.bytes);
    EXPECT_EQ(zp3k::terminal_text(r.bytes), r.terminal) << zp3k::hex_bytes(r.bytes);
  }
  EXPECT_EQ(zp3k::hex_bytes("bad\xff"), "626164ff");
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
  const char* line = "S30900100100112233443B";
  std::uint8_t decoded[SRECORD_LINE_BUFFER / 2];
  SRecordLine rec = read_srecord_line(line, std::strlen(line), true, decoded);
  ASSERT_EQ(rec.kind, RECORD_DATA);
  EXPECT_EQ(rec.address, 0x00100100u);
  ASSERT_EQ(rec.data_count, 4);
  EXPECT_EQ(rec.data, line + 12);
  EXPECT_EQ(rec.bytes, decoded + 5);
  EXPECT_EQ(rec.bytes[0], 0x11);
  EXPECT_EQ(rec.bytes[3], 0x44);
  // Lower-case digits read as upper-case ones; trailing blanks are ignored,
  // and so is a missing line feed after a whole record.
  for (const char* same : {"s30900100100112233443b\n", "S30900100100112233443B \t\r\n",
                           "S30900100100112233443B"}) {
    const std::size_t n = std::strcspn(same, "\n");
    SRecordLine lower = read_srecord_line(same, n, same[n] == '\n', decoded);
    ASSERT_EQ(lower.kind, RECORD_DATA) << same;
    EXPECT_EQ(lower.address, 0x00100100u);
    EXPECT_EQ(lower.bytes[3], 0x44);
  }
  // A record without data bytes, its address in mixed case.
  SRecordLine empty = read_srecord_line("S305DEADbeefC2\n");
  ASSERT_EQ(empty.kind, RECORD_DATA);
  EXPECT_EQ(empty.address, 0xDEADBEEFu);
  EXPECT_EQ(empty.data_count, 0);
}

TEST(SRecordLine, CorruptRecordsAreRefusedWithTheirFault) {
  struct Case { const char* line; RecordFault fault; } cases[] = {
      {"S30900100100112233443C\n", RECORD_FAULT_CHECKSUM_WRONG},
      {"S00600004844521C\n", RECORD_FAULT_CHECKSUM_WRONG},
      {"S70500000000FB\n", RECORD_FAULT_CHECKSUM_WRONG},
      {"S3090010010011223344\n", RECORD_FAULT_CHECKSUM_MISSING},
      {"S309001001001122ZZ443B\n", RECORD_FAULT_NOT_HEX},
      {"S30900100100112233 4 3B\n", RECORD_FAULT_NOT_HEX},
      {"S30700008000G0a0\n", RECORD_FAULT_NOT_HEX},
      {"S30900100100112233443\n", RECORD_FAULT_COUNT},  // an odd number of digits
      {"S30B00100100112233443B\n", RECORD_FAULT_COUNT},      // count longer than the line
      {"S30800100100112233443B\n", RECORD_FAULT_COUNT},      // count shorter than the line
      {"S30900100100112233443B00\n", RECORD_FAULT_COUNT},
      {"S3FF00100100\n", RECORD_FAULT_COUNT},
      {"S30400008000FB\n", RECORD_FAULT_COUNT},
      {"S3000000\n", RECORD_FAULT_COUNT},
      {"S3\n", RECORD_FAULT_COUNT},
      {"S3030000FC\n", RECORD_FAULT_COUNT},                 // no room for the address
      {"S3040000807B\n", RECORD_FAULT_COUNT},               // the address, but no room for the checksum
      {"S002FD00\n", RECORD_FAULT_COUNT},
      {"S7040000807B\n", RECORD_FAULT_COUNT},
      {"S309001001001122334", RECORD_FAULT_CUT_OFF},         // the file ends inside it
      {"S70500000", RECORD_FAULT_CUT_OFF},
      {"S0", RECORD_FAULT_CUT_OFF},
  };
  for (const auto& c : cases) {
    SRecordLine rec = read_srecord_line(c.line);
    EXPECT_EQ(rec.kind, RECORD_CORRUPT) << c.line;
    EXPECT_EQ(rec.fault, c.fault) << c.line;
  }
  // A NUL inside the line is a character like any other that is no digit.
  char with_nul[] = "S30900100100112233443B";
  with_nul[14] = '\0';
  EXPECT_EQ(read_srecord_line(with_nul, sizeof with_nul - 1, true).fault, RECORD_FAULT_NOT_HEX);
}

TEST(SRecordLine, SourceLinesFitTheLineBufferOrAreTooLong) {
  // Lines of 255 characters fit, with or without their line feed at the end
  // of the file; a chunk boundary anywhere changes nothing; 256 do not fit.
  std::string fits(255, 'a'), longer(256, 'b');
  imgconv_test::ScratchDir dir;
  imgconv_test::write_text("fits.txt", "one\n" + fits + "\n\n" + fits);
  imgconv_test::write_text("long.txt", "x\n" + longer + "\n");
  for (std::size_t chunk_size : {2u, 3u, 254u, 255u, 256u, 4096u}) {
    std::FILE* f = std::fopen("fits.txt", "rb");
    ASSERT_NE(f, nullptr);
    std::vector<char> chunk(chunk_size);
    SourceLines lines(f, chunk.data(), chunk.size());
    char spill[SRECORD_LINE_BUFFER];
    const char* line = nullptr;
    std::size_t length = 0;
    bool lf = false;
    struct Want { std::size_t length; bool lf; } wants[] = {{3, true}, {255, true}, {0, true}, {255, false}};
    for (const auto& want : wants) {
      ASSERT_EQ(lines.next(spill, &line, &length, &lf), SourceLines::LINE) << chunk_size;
      EXPECT_EQ(length, want.length) << chunk_size;
      EXPECT_EQ(lf, want.lf) << chunk_size;
      EXPECT_EQ(line[length], '\0') << chunk_size;
    }
    EXPECT_EQ(std::string(line), fits);
    EXPECT_EQ(lines.next(spill, &line, &length, &lf), SourceLines::END);
    EXPECT_EQ(lines.line_number(), 4u);
    // Again from the start, after a rewind.
    ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    lines.restart();
    ASSERT_EQ(lines.next(spill, &line, &length, &lf), SourceLines::LINE);
    EXPECT_STREQ(line, "one");
    EXPECT_EQ(lines.line_number(), 1u);
    std::fclose(f);
  }
  std::FILE* f = std::fopen("long.txt", "rb");
  ASSERT_NE(f, nullptr);
  char chunk[100], spill[SRECORD_LINE_BUFFER];
  const char* line = nullptr;
  std::size_t length = 0;
  bool lf = false;
  SourceLines lines(f, chunk, sizeof chunk);
  ASSERT_EQ(lines.next(spill, &line, &length, &lf), SourceLines::LINE);
  EXPECT_EQ(lines.next(spill, &line, &length, &lf), SourceLines::TOO_LONG);
  EXPECT_EQ(lines.line_number(), 2u);
  std::fclose(f);
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
