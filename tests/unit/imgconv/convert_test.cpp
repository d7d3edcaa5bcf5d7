// Tests of the conversion engine on real files: image layout, load base, placement,
// output path, header-only file, and every result code with the output's state after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imgconv/convert.h"
#include "imgconv/file_services.h"
#include "image/image_format.h"
#include "test_files.h"

using namespace image;  // the image format

using namespace imgconv;
using namespace imgconv_test;

namespace {

struct Question {
  int asked = 0;
  bool answer = true;
};

bool ask(void* context) {
  auto* q = static_cast<Question*>(context);
  ++q->asked;
  return q->answer;
}

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    converter.flags.confirm_overwrite = false;
    converter.flags.ask_overwrite = ask;
    converter.flags.ask_context = &question;
  }

  ConvertResult convert(const std::vector<std::string>& records, const char* version = "1.00",
                        const char* comment = "") {
    write_text("in.hex", srecord_file(records));
    return converter.convert_to_image("in.hex", "out", version, comment);
  }

  // Every byte of the image outside the header fields, as the checker sees it.
  static void expect_fill_except(const std::vector<std::uint8_t>& image,
                                 const std::vector<std::pair<std::size_t, std::uint8_t>>& data) {
    std::vector<std::uint8_t> expected(image.size(), 0xFF);
    for (auto& d : data) expected[d.first] = d.second;
    for (std::size_t i = 64; i < image.size(); ++i) {
      ASSERT_EQ(image[i], expected[i]) << "offset " << i;
    }
  }

  ScratchDir dir;
  Question question;
  Converter converter{platform_file_services()};
};

}  // namespace

TEST_F(ConvertTest, WorkedExample) {
  ASSERT_EQ(convert({"S30900100100112233443B"}, "1.00", "abc"), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  ASSERT_EQ(image.size(), 2048u);
  const std::uint8_t expected[64] = {
      0x78, 0x56, 0x34, 0x12, 0xF4, 0x07, 0x00, 0x00, 0x71, 0x48, 0xBF, 0xBB, 0xFF, 0xFF, 0xFF, 0xFF,
      0x00, 0x00, 0x10, 0x00, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0x61, 0x62, 0x63, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(image.data(), expected, 64));
  expect_fill_except(image, {{256, 0x11}, {257, 0x22}, {258, 0x33}, {259, 0x44}});
  EXPECT_EQ(load_le32(image.data() + 8), 0xBBBF4871u);
  EXPECT_EQ(xor_words(image.data(), image.size()), 0x1234518Cu);  // magic ^ length
}

TEST_F(ConvertTest, OneByteAboveTheHeader) {
  ASSERT_EQ(convert({s3(0x8000 + 256, {0x5A})}), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  ASSERT_EQ(image.size(), 2048u);
  EXPECT_EQ(load_le32(image.data() + 4), 2036u);
  EXPECT_EQ(load_le32(image.data() + 16), 0x8000u);
  EXPECT_EQ(load_le32(image.data() + 20), 2048u);
  expect_fill_except(image, {{256, 0x5A}});
  EXPECT_EQ(load_le32(image.data() + 8), 0xFFFF885Bu);  // the words from offset 12 XORed
}

TEST_F(ConvertTest, DataUnderTheHeaderSurvivesOutsideItsFields) {
  std::vector<std::uint8_t> data(64);
  for (int i = 0; i < 64; ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
  ASSERT_EQ(convert({s3(0x100000, data)}, "2.34", "xy"), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  for (std::size_t i : {12u, 13u, 14u, 15u, 26u, 27u, 28u, 29u, 30u, 31u}) EXPECT_EQ(image[i], data[i]) << i;
  EXPECT_EQ(image[32], 'x');
  EXPECT_EQ(image[33], 'y');
  EXPECT_EQ(image[34], 0);
  for (std::size_t i = 35; i < 64; ++i) EXPECT_EQ(image[i], data[i]) << i;
  EXPECT_EQ(image[24], 0x02);
  EXPECT_EQ(image[25], 0x34);
  EXPECT_EQ(load_le32(image.data() + 16), 0x100000u);
  EXPECT_EQ(load_le32(image.data() + 8), 0xAB7894AAu);
}

TEST_F(ConvertTest, EmptyCommentAndVersionBytes) {
  std::vector<std::uint8_t> data(64, 0x33);
  ASSERT_EQ(convert({s3(0x8000, data)}, "9.99_F", ""), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  EXPECT_EQ(image[24], 0xF9);
  EXPECT_EQ(image[25], 0x99);
  EXPECT_EQ(image[32], 0);
  for (std::size_t i = 33; i < 64; ++i) EXPECT_EQ(image[i], 0x33) << i;
  ASSERT_EQ(convert({s3(0x8000, data)}, "0.00", ""), CONVERT_OK);
  image = read_bytes("out.bin");
  EXPECT_EQ(image[24], 0x00);
  EXPECT_EQ(image[25], 0x00);
}

TEST_F(ConvertTest, LargestImage) {
  ASSERT_EQ(convert({s3(0x100000 + 0x1FFFFF, {0x42})}), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  ASSERT_EQ(image.size(), 0x200000u);
  EXPECT_EQ(load_le32(image.data() + 20), 0x200000u);
  EXPECT_EQ(load_le32(image.data() + 4), 0x1FFFF4u);
  EXPECT_EQ(image[0x1FFFFF], 0x42);
  EXPECT_EQ(load_le32(image.data() + 8), 0x42CF00FEu);
}

TEST_F(ConvertTest, TheFirstAddressAtOrAbove0x8000DecidesTheBase) {
  // 0x1000 does not decide; 0x9000 gives 0x8000; the byte at 0x1000 is below it.
  ASSERT_EQ(convert({s3(0x1000, {1}), s3(0x9000, {2})}), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  EXPECT_EQ(load_le32(image.data() + 16), 0x8000u);
  ASSERT_EQ(image.size(), 0x1000u + 2048u);
  expect_fill_except(image, {{0x1000, 2}});

  ASSERT_EQ(convert({s3(0xFFFFF, {7})}), CONVERT_OK);
  EXPECT_EQ(load_le32(read_bytes("out.bin").data() + 16), 0x8000u);
  ASSERT_EQ(convert({s3(0x100000, {7})}), CONVERT_OK);
  EXPECT_EQ(load_le32(read_bytes("out.bin").data() + 16), 0x100000u);
}

TEST_F(ConvertTest, PlacementAgainstBase0x8000) {
  // A later byte at 0x100000 lands at 0xF8000 in block 496, with every block
  // below it present and 0xFF where nothing fell; 0x207FFF is the last kept.
  ASSERT_EQ(convert({s3(0x8100, {1}), s3(0x100000, {2}), s3(0x207FFF, {3, 4})}), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  ASSERT_EQ(image.size(), 0x200000u);
  expect_fill_except(image, {{0x100, 1}, {0xF8000, 2}, {0x1FFFFF, 3}});
  ASSERT_EQ(convert({s3(0x8100, {1}), s3(0x100000, {2})}), CONVERT_OK);
  EXPECT_EQ(read_bytes("out.bin").size(), 497u * 2048u);
}

TEST_F(ConvertTest, PlacementAgainstBase0x100000) {
  // A byte at 0x9000 lies below the base and is dropped; 0x2FFFFF is the last kept.
  ASSERT_EQ(convert({s3(0x100000, {1}), s3(0x9000, {2}), s3(0x2FFFFF, {3, 4}), s3(0x300000, {5})}),
            CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  ASSERT_EQ(image.size(), 0x200000u);
  expect_fill_except(image, {{0x1FFFFF, 3}});
  EXPECT_EQ(image[0], 0x78);  // the byte at offset 0 lies under the magic
}

TEST_F(ConvertTest, BaseZeroWhenEveryAddressIsBelow0x8000) {
  ASSERT_EQ(convert({s3(0x0100, {9}), s3(0x2345, {8})}), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  EXPECT_EQ(load_le32(image.data() + 16), 0u);
  ASSERT_EQ(image.size(), 0x2800u);
  expect_fill_except(image, {{0x100, 9}, {0x2345, 8}});
}

TEST_F(ConvertTest, RecordsAcrossTheBaseAndTheLimit) {
  // Starting 16 bytes below the base: none of its bytes is placed, not even
  // those at base + 12 to + 15, which no header field would cover.
  ASSERT_EQ(convert({s3(0x8100, {1}), s3(0x7FF0, std::vector<std::uint8_t>(40, 0xAB))}), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  EXPECT_EQ(image.size(), 2048u);
  expect_fill_except(image, {{0x100, 1}});
  for (std::size_t i = 12; i < 16; ++i) EXPECT_EQ(image[i], 0xFF) << i;
  // Running past offset 0x1FFFFF: the bytes below 0x200000 are kept.
  ASSERT_EQ(convert({s3(0x100000 + 0x1FFFFE, {0xA, 0xB, 0xC})}), CONVERT_OK);
  image = read_bytes("out.bin");
  ASSERT_EQ(image.size(), 0x200000u);
  EXPECT_EQ(image[0x1FFFFE], 0xA);
  EXPECT_EQ(image[0x1FFFFF], 0xB);
}

TEST_F(ConvertTest, LaterRecordsOverwriteAndAnyFirstCharacterWorks) {
  std::string x3 = s3(0x8200, {0x77});
  x3[0] = 'X';
  ASSERT_EQ(convert({s3(0x8200, {0x11, 0x22}), s3(0x8201, {0x33}), x3}), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  expect_fill_except(image, {{0x200, 0x77}, {0x201, 0x33}});
}

TEST_F(ConvertTest, CrLfLineEndsAndLowerCaseDigits) {
  write_text("in.hex", srecord_file({"S30900100100112233443B"}, "\r\n"));
  ASSERT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "abc"), CONVERT_OK);
  EXPECT_EQ(load_le32(read_bytes("out.bin").data() + 8), 0xBBBF4871u);
  // Lower-case digits give the same image.
  std::string lower = srecord_file({"S30900100100112233443B"}, "\r\n");
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  write_text("in.hex", lower);
  ASSERT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "abc"), CONVERT_OK);
  EXPECT_EQ(load_le32(read_bytes("out.bin").data() + 8), 0xBBBF4871u);
  // A record of 120 data bytes fits one read with CR LF as with LF.
  write_text("in.hex", srecord_file({s3(0x8100, std::vector<std::uint8_t>(120, 0x5A)), s3(0x8300, {1})}, "\r\n"));
  ASSERT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
  EXPECT_EQ(read_bytes("out.bin")[0x100 + 119], 0x5A);
}

TEST_F(ConvertTest, CommentLimitCountsBytes) {
  std::string thirty(30, 'c');
  ASSERT_EQ(convert({s3(0x8100, {1})}, "1.00", thirty.c_str()), CONVERT_OK);
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  EXPECT_EQ(0, std::memcmp(image.data() + 32, thirty.data(), 30));
  EXPECT_EQ(image[62], 0);
  EXPECT_EQ(image[63], 0xFF);
  std::string with_breaks = "ab\r\ncd";  // a line break is two bytes
  ASSERT_EQ(convert({s3(0x8100, {1})}, "1.00", with_breaks.c_str()), CONVERT_OK);
  EXPECT_EQ(0, std::memcmp(read_bytes("out.bin").data() + 32, "ab\r\ncd", 7));
  const std::vector<std::uint8_t> previous = read_bytes("out.bin");
  EXPECT_EQ(convert({s3(0x8100, {1})}, "1.00", std::string(31, 'c').c_str()), CONVERT_ERR_COMMENT);
  EXPECT_EQ(read_bytes("out.bin"), previous) << "a comment too long is refused before the output";
}

// --- result codes and the output file's state after them ---

TEST_F(ConvertTest, ChecksBeforeAnythingIsOpened) {
  write_text("in.hex", srecord_file({s3(0x8100, {1})}));
  EXPECT_EQ(converter.convert_to_image("nodot", "", "x", ""), CONVERT_ERR_SOURCE_PATH);
  EXPECT_EQ(converter.convert_to_image("", "out", "1.00", ""), CONVERT_ERR_SOURCE_PATH);
  EXPECT_EQ(converter.convert_to_image("in.hex", "", "1.00", ""), CONVERT_ERR_DEST_OPEN);
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.0", ""), CONVERT_ERR_VERSION);
  EXPECT_EQ(converter.convert_to_image("missing.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_OPEN);
  EXPECT_FALSE(exists("out.bin"));
}

TEST_F(ConvertTest, BadRecordInTheFirstPassCreatesNoOutput) {
  for (const char* bad : {"", "S1130000", "S5030000FC", "S9030000FC", "S2", "S8"}) {
    write_text("in.hex", std::string("S00600004844521B\n") + bad + "\n" + s3(0x8100, {1}) + "\n");
    EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_OPEN) << bad;
    EXPECT_FALSE(exists("out.bin")) << bad;
  }
}

TEST_F(ConvertTest, BadRecordInTheSecondPassDeletesANewOutput) {
  // The first pass ends at the deciding record, so the bad line after it is
  // found only when the output stage has been reached.
  write_text("in.hex", s3(0x8100, {1}) + "\n\n" + s3(0x8200, {2}) + "\n");
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_OPEN);
  EXPECT_FALSE(exists("out.bin"));
  // 120 data bytes fit one line of the buffer, with LF or CR LF.
  write_text("in.hex", s3(0x8100, {1}) + "\n" + s3(0x8200, std::vector<std::uint8_t>(120, 1)) + "\r\n");
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
}

TEST_F(ConvertTest, CorruptRecordsAreRefusedWithTheirLineAndFault) {
  const std::string good = "S3080000810011223310";  // 112233 at 0x8100, checksum 10
  std::string wrong_sum = good.substr(0, good.size() - 2) + "00";
  std::string no_sum = good.substr(0, good.size() - 2);
  std::string not_hex = good;
  not_hex[14] = 'Z';
  std::string count_longer = good;
  count_longer[3] = 'A';
  std::string count_shorter = good;
  count_shorter[3] = '7';
  std::string too_long = s3(0x8200, std::vector<std::uint8_t>(130, 1));
  struct Case { std::string text; RecordFault fault; unsigned long line; } cases[] = {
      // In the first pass, before the line that decides the base ...
      {"S00600004844521B\n" + wrong_sum + "\n" + good + "\n", RECORD_FAULT_CHECKSUM_WRONG, 2},
      {no_sum + "\n" + good + "\n", RECORD_FAULT_CHECKSUM_MISSING, 1},
      {"S00600004844521C\n" + good + "\n", RECORD_FAULT_CHECKSUM_WRONG, 1},
      // ... and in the second pass.
      {good + "\n" + s3(0x8300, {4}) + "\n" + not_hex + "\n", RECORD_FAULT_NOT_HEX, 3},
      {good + "\n" + count_longer + "\n", RECORD_FAULT_COUNT, 2},
      {good + "\r\n" + count_shorter + "\r\n", RECORD_FAULT_COUNT, 2},
      {good + "\n" + too_long + "\n" + good + "\n", RECORD_FAULT_TOO_LONG, 2},
      {good + "\n" + good.substr(0, 15), RECORD_FAULT_CUT_OFF, 2},
      {good + "\nS70500000", RECORD_FAULT_CUT_OFF, 2},
      {good + "\nS7050000000", RECORD_FAULT_CUT_OFF, 2},
  };
  for (const auto& c : cases) {
    write_text("in.hex", c.text);
    ConvertReport fault;
    EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "", &fault), CONVERT_ERR_SOURCE_RECORD) << c.text;
    EXPECT_EQ(fault.cause, CAUSE_RECORD) << c.text;
    EXPECT_EQ(fault.fault, c.fault) << c.text;
    EXPECT_EQ(fault.line, c.line) << c.text;
    EXPECT_FALSE(exists("out.bin")) << c.text;
  }
  // A whole last record without its line feed is fine.
  write_text("in.hex", good + "\nS70500000000FA");
  ConvertReport fault;
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", "", &fault), CONVERT_OK);
  EXPECT_EQ(fault.fault, RECORD_FAULT_NONE);
}

TEST_F(ConvertTest, NoDataByteGivesWriteErrorAndDeletesANewOutput) {
  // Empty, no S3 record, and data that all lies beyond the image.
  for (const std::string& text : {std::string(""), srecord_file({}),
                                   srecord_file({s3(0x100000 + 0x200000, {1}), s3(0x9000, {2})})}) {
    write_text("in.hex", text);
    EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_DEST_WRITE);
    EXPECT_FALSE(exists("out.bin"));
  }
}

TEST_F(ConvertTest, OutputCannotBeCreated) {
  write_text("in.hex", srecord_file({s3(0x8100, {1})}));
  EXPECT_EQ(converter.convert_to_image("in.hex", "no_such_dir/out", "1.00", ""), CONVERT_ERR_DEST_OPEN);
  // A name whose path would not fit 520 bytes is refused, never overrun.
  std::string long_name(600, 'n');
  EXPECT_EQ(converter.convert_to_image("in.hex", long_name.c_str(), "1.00", ""), CONVERT_ERR_DEST_OPEN);
  EXPECT_EQ(converter.write_header_only(long_name.c_str(), "1.00", ""), CONVERT_ERR_DEST_OPEN);
}

TEST_F(ConvertTest, DeclinedOverwriteLeavesTheFileUntouched) {
  converter.flags.confirm_overwrite = true;
  question.answer = false;
  write_text("out.bin", "keep me");
  write_text("in.hex", srecord_file({s3(0x8100, {1})}));
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_CANCELLED);
  EXPECT_EQ(question.asked, 1);
  EXPECT_EQ(read_bytes("out.bin"), std::vector<std::uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  EXPECT_EQ(converter.write_header_only("out", "1.00", ""), CONVERT_CANCELLED);
  EXPECT_EQ(question.asked, 2);
  EXPECT_EQ(read_bytes("out.bin").size(), 7u);
}

TEST_F(ConvertTest, TheQuestionIsAskedOnlyForAnExistingFileWhenConfirming) {
  converter.flags.confirm_overwrite = true;
  write_text("in.hex", srecord_file({s3(0x8100, {1})}));
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
  EXPECT_EQ(question.asked, 0);
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
  EXPECT_EQ(question.asked, 1);
  // Without confirmation nothing is asked.
  converter.flags.confirm_overwrite = false;
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_OK);
  EXPECT_EQ(question.asked, 1);
}

TEST_F(ConvertTest, AgreedOverwriteRemovesTheOldImageAfterAFailure) {
  converter.flags.confirm_overwrite = true;
  question.answer = true;
  // Errors 6 and 7 are found before the question: the file stays as it was.
  write_text("out.bin", "old");
  EXPECT_EQ(convert({s3(0x8100, {1}), s3(0x8900, {2})}, "1.00", std::string(31, 'c').c_str()),
            CONVERT_ERR_COMMENT);
  EXPECT_EQ(convert({s3(0x8100, {1})}, "1.0", ""), CONVERT_ERR_VERSION);
  EXPECT_EQ(read_bytes("out.bin").size(), 3u);
  EXPECT_EQ(question.asked, 0);
  // Error 2 and 8 in the second pass, error 4 for no data.
  write_text("out.bin", "old");
  write_text("in.hex", s3(0x8100, {1}) + "\n" + s3(0x8900, {2}) + "\nS9030000FC\n");
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_OPEN);
  EXPECT_FALSE(exists("out.bin"));
  write_text("out.bin", "old");
  write_text("in.hex", s3(0x8100, {1}) + "\nS3080000890002\n");
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_RECORD);
  EXPECT_FALSE(exists("out.bin"));
  write_text("out.bin", "old");
  EXPECT_EQ(convert({}), CONVERT_ERR_DEST_WRITE);
  EXPECT_FALSE(exists("out.bin"));
  EXPECT_EQ(question.asked, 3);
  // A failure before the question leaves the file as it was.
  write_text("out.bin", "old");
  write_text("in.hex", "S3080000810001FF\n");
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_RECORD);
  EXPECT_EQ(read_bytes("out.bin").size(), 3u);
  // Nothing but the output is left in the folder.
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++entries;
    EXPECT_TRUE(entry.path().filename() == "in.hex" || entry.path().filename() == "out.bin")
        << entry.path();
  }
  EXPECT_EQ(entries, 2u);
}

TEST_F(ConvertTest, AutomaticRunDeletesAnExistingOutputAfterAFailure) {
  // Confirmation off from the start: a bad argument leaves the file, a
  // failure at the output stage removes it.
  write_text("out.bin", "old");
  EXPECT_EQ(convert({s3(0x8100, {1})}, "1.00", std::string(31, 'c').c_str()), CONVERT_ERR_COMMENT);
  EXPECT_EQ(convert({s3(0x8100, {1})}, "9", ""), CONVERT_ERR_VERSION);
  EXPECT_EQ(read_bytes("out.bin").size(), 3u);
  write_text("in.hex", s3(0x8100, {1}) + "\nS3080000890002\n");
  EXPECT_EQ(converter.convert_to_image("in.hex", "out", "1.00", ""), CONVERT_ERR_SOURCE_RECORD);
  EXPECT_FALSE(exists("out.bin"));
  EXPECT_EQ(question.asked, 0);
}

TEST_F(ConvertTest, HeaderOnlyFile) {
  ASSERT_EQ(converter.write_header_only("hdr", "1.23_A", "abc"), CONVERT_OK);
  std::vector<std::uint8_t> h = read_bytes("hdr.bin");
  ASSERT_EQ(h.size(), 64u);
  std::vector<std::uint8_t> expected(64, 0xFF);
  expected[0] = 0x78; expected[1] = 0x56; expected[2] = 0x34; expected[3] = 0x12;
  expected[24] = 0xA1; expected[25] = 0x23;
  expected[32] = 'a'; expected[33] = 'b'; expected[34] = 'c'; expected[35] = 0;
  EXPECT_EQ(h, expected);
}

TEST_F(ConvertTest, HeaderOnlyFailures) {
  EXPECT_EQ(converter.write_header_only("", "1.00", ""), CONVERT_ERR_DEST_OPEN);
  EXPECT_EQ(converter.write_header_only("no_such_dir/h", "1.00", ""), CONVERT_ERR_DEST_OPEN);
  // The version and the comment are checked before the file is made: no
  // new file, and an existing one stays as it was, with or without the
  // question, which is not asked.
  EXPECT_EQ(converter.write_header_only("h", "1.2", ""), CONVERT_ERR_VERSION);
  EXPECT_FALSE(exists("h.bin"));
  EXPECT_EQ(converter.write_header_only("h", "1.20", std::string(31, 'x').c_str()), CONVERT_ERR_COMMENT);
  EXPECT_FALSE(exists("h.bin"));
  write_text("h.bin", "old");
  for (bool confirm : {false, true}) {
    converter.flags.confirm_overwrite = confirm;
    EXPECT_EQ(converter.write_header_only("h", "bad", ""), CONVERT_ERR_VERSION);
    EXPECT_EQ(converter.write_header_only("h", "1.00", std::string(31, 'x').c_str()), CONVERT_ERR_COMMENT);
    EXPECT_EQ(read_bytes("h.bin"), std::vector<std::uint8_t>({'o', 'l', 'd'})) << confirm;
  }
  EXPECT_EQ(question.asked, 0);
}

// Each row a failure and what the report tells about it: the cause, the
// line or the file, and the system's reason in the same words on every
// platform.
TEST_F(ConvertTest, FailuresAreReportedWithTheirCause) {
  const std::string junk = "0123456789abcdefXYZ";
  const struct {
    std::string source_text;  // in.hex
    const char* source;
    const char* dest;
    const char* version;
    std::size_t comment_length;
    ConvertResult result;
    FailureCause cause;
    unsigned long line;
    const char* detail;  // the excerpt, the record type, or the path's end and the reason
  } rows[] = {
      {srecord_file({}), "nodot", "out", "1.00", 0, CONVERT_ERR_SOURCE_PATH, CAUSE_NO_EXTENSION, 0, ""},
      {srecord_file({}), "in.hex", "", "1.00", 0, CONVERT_ERR_DEST_OPEN, CAUSE_OUTPUT_NAME, 0, ""},
      {srecord_file({}), "in.hex", "out", "", 0, CONVERT_ERR_VERSION, CAUSE_VERSION, 0, ""},
      {srecord_file({}), "in.hex", "out", "1.00", 31, CONVERT_ERR_COMMENT, CAUSE_COMMENT, 0, ""},
      {srecord_file({}), "missing.hex", "out", "1.00", 0, CONVERT_ERR_SOURCE_OPEN, CAUSE_OPEN_SOURCE, 0,
       "missing.hex|No such file or directory"},
      {srecord_file({s3(0x8100, {1})}), "in.hex", "no_such_dir/out", "1.00", 0, CONVERT_ERR_DEST_OPEN,
       CAUSE_CREATE_OUTPUT, 0, "out.bin|No such file or directory"},
      {srecord_file({}), "in.hex", "out", "1.00", 0, CONVERT_ERR_DEST_WRITE, CAUSE_NO_DATA, 0, ""},
      {"S00600004844521B\nS5030001FB\n", "in.hex", "out", "1.00", 0, CONVERT_ERR_SOURCE_OPEN,
       CAUSE_OTHER_RECORD, 2, "5"},
      {srecord_file({s3(0x8100, {1}), "S9030000FC"}), "in.hex", "out", "1.00", 0, CONVERT_ERR_SOURCE_OPEN,
       CAUSE_OTHER_RECORD, 3, "9"},
      {"S00600004844521B\n \t\r\n", "in.hex", "out", "1.00", 0, CONVERT_ERR_SOURCE_OPEN, CAUSE_EMPTY_LINE, 2, ""},
      {s3(0x8100, {1}) + "\n\n", "in.hex", "out", "1.00", 0, CONVERT_ERR_SOURCE_OPEN, CAUSE_EMPTY_LINE, 2, ""},
      {"S00600004844521B\n" + junk + "\n", "in.hex", "out", "1.00", 0, CONVERT_ERR_SOURCE_OPEN,
       CAUSE_NOT_SRECORD, 2, "0123456789abcdef"},
      {":10010000214601360121470136007EFE09D2190140\n", "in.hex", "out", "1.00", 0, CONVERT_ERR_SOURCE_OPEN,
       CAUSE_NOT_SRECORD, 1, ":100100002146013"},
  };
  for (const auto& row : rows) {
    write_text("in.hex", row.source_text);
    ConvertReport report;
    EXPECT_EQ(converter.convert_to_image(row.source, row.dest, row.version,
                                         std::string(row.comment_length, 'c').c_str(), &report),
              row.result) << row.source_text;
    EXPECT_EQ(report.cause, row.cause) << row.source_text;
    EXPECT_EQ(report.line, row.line) << row.source_text;
    const std::string detail = row.detail;
    if (row.cause == CAUSE_NOT_SRECORD) {
      EXPECT_EQ(report.excerpt, detail);
    } else if (row.cause == CAUSE_OTHER_RECORD) {
      EXPECT_EQ(std::string(1, report.record_type), detail);
    }
    const std::size_t bar = detail.find('|');
    if (bar != std::string::npos) {
      const std::string path = report.path, end = detail.substr(0, bar);
      EXPECT_EQ(path.substr(path.size() - std::min(path.size(), end.size())), end) << path;
      EXPECT_EQ(std::string(report.reason), detail.substr(bar + 1));
    }
    EXPECT_FALSE(exists("out.bin")) << row.source_text;
  }
  ConvertReport report;
  EXPECT_EQ(converter.write_header_only("no_such_dir/h", "1.00", "", &report), CONVERT_ERR_DEST_OPEN);
  EXPECT_EQ(report.cause, CAUSE_CREATE_OUTPUT);
  EXPECT_STREQ(report.reason, "No such file or directory");
  EXPECT_EQ(converter.write_header_only("h", "1.00", "", &report), CONVERT_OK);
  EXPECT_EQ(report.cause, CAUSE_NONE);
}

// A console event's thread discards the temporary file while the engine
// holds it open: it is gone, and it is never moved into place.
TEST(PendingTemp, ADiscardedTemporaryFileIsGoneAndNeverMovedIntoPlace) {
  ScratchDir dir;
  const FileServices files = platform_file_services();
  char temp[PATH_BUFFER_SIZE];
  std::FILE* file = files.create_temp("out.bin", temp, sizeof temp);
  ASSERT_NE(file, nullptr);
  ASSERT_NE(std::fputs("part of an image", file), EOF);
  ASSERT_EQ(std::fflush(file), 0);
  EXPECT_TRUE(exists(temp));
  discard_pending_temp();
  EXPECT_EQ(std::fclose(file), 0);
  EXPECT_FALSE(files.move_into_place(temp, "out.bin"));
  EXPECT_FALSE(exists(temp));
  EXPECT_FALSE(exists("out.bin"));
  discard_pending_temp();  // nothing pending: nothing happens
}

TEST_F(ConvertTest, OutputPathRule) {
  char out[PATH_BUFFER_SIZE];
  char expected[PATH_BUFFER_SIZE];
  ASSERT_TRUE(converter.build_output_path(nullptr, "out", expected, sizeof expected));
  EXPECT_EQ((dir.path() / "out.bin").string(), expected);
  // Without drive letters (POSIX) ':' is an ordinary character: always the
  // current directory.
  converter.files.drive_letters = false;
  for (const char* source : {"C:\\work\\a.hex", "C:a.hex", "dir:with:colons/x.hex"}) {
    ASSERT_TRUE(converter.build_output_path(source, "out", out, sizeof out));
    EXPECT_STREQ(out, expected) << source;
  }
  // The Windows rule: a drive letter puts the output beside the source.
  converter.files.drive_letters = true;
  ASSERT_TRUE(converter.build_output_path("C:\\work\\a.hex", "out", out, sizeof out));
  EXPECT_STREQ(out, "C:\\work\\out.bin");
  ASSERT_TRUE(converter.build_output_path("C:\\work\\a.hex", "out.bin", out, sizeof out));
  EXPECT_STREQ(out, "C:\\work\\out.bin.bin");
  // ':' without a backslash: the folder ends at the last ':'.
  ASSERT_TRUE(converter.build_output_path("C:a.hex", "out", out, sizeof out));
  EXPECT_STREQ(out, "C:out.bin");
  // Without ':' the output goes into the current directory.
  ASSERT_TRUE(converter.build_output_path("sub.dir/a.hex", "out", out, sizeof out));
  EXPECT_STREQ(out, expected);
  ASSERT_TRUE(converter.build_output_path("\\\\server\\share\\a.hex", "out", out, sizeof out));
  EXPECT_STREQ(out, expected);
  // Too long for the buffer: refused.
  std::string folder = "C:\\" + std::string(510, 'f') + "\\a.hex";
  EXPECT_FALSE(converter.build_output_path(folder.c_str(), "out", out, sizeof out));
  EXPECT_FALSE(converter.build_output_path("C:\\a.hex", std::string(516, 'n').c_str(), out, sizeof out));
  EXPECT_TRUE(converter.build_output_path("C:\\a.hex", std::string(512, 'n').c_str(), out, sizeof out));
  EXPECT_EQ(std::strlen(out), 519u);
}
