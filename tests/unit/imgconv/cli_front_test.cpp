// Tests of the Linux front end's pieces: argument reader, cp932 conversion, --info.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imgconv/convert.h"
#include "image/image_format.h"
#include "imgconv/cli/image_info.h"
#include "imgconv/cli/options.h"
#include "imgconv/cli/texts.h"
#include "test_files.h"

using namespace imgconv;
using namespace imgconv_test;

namespace {

bool read(std::vector<const char*> args, Options* options) {
  args.insert(args.begin(), "imgconv");
  return read_options(static_cast<int>(args.size()), args.data(), options);
}

// Runs show_image_info and returns its exit code; *text receives what it printed.
int info(const std::string& path, std::string* text) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  int code = show_image_info(path.c_str(), out);
  std::fclose(out);
  *text = std::string(buffer, size);
  std::free(buffer);
  return code;
}

}  // namespace

TEST(PosixOptions, WindowsWordsAttachedOrSeparate) {
  Options o;
  ASSERT_TRUE(read({"-Sa.hex", "-D", "out", "-V1.00", "-C", "my comment"}, &o));
  EXPECT_EQ(o.mode, Mode::CONVERT);
  EXPECT_EQ(o.value[SLOT_SOURCE], "a.hex");
  EXPECT_EQ(o.value[SLOT_DEST], "out");
  EXPECT_EQ(o.value[SLOT_VERSION], "1.00");
  EXPECT_EQ(o.value[SLOT_COMMENT], "my comment");
  // A value that starts with a dash, given as the next argument.
  ASSERT_TRUE(read({"-C", "-x-", "-Sa.hex"}, &o));
  EXPECT_EQ(o.value[SLOT_COMMENT], "-x-");
  EXPECT_FALSE(o.given[SLOT_DEST]);
  ASSERT_TRUE(read({"--header-only", "-Dh", "-V1.00"}, &o));
  EXPECT_EQ(o.mode, Mode::HEADER_ONLY);
  ASSERT_TRUE(read({"--info", "x.bin"}, &o));
  EXPECT_EQ(o.mode, Mode::INFO);
  EXPECT_EQ(o.info_path, "x.bin");
  ASSERT_TRUE(read({"-Sa.hex", "--help"}, &o));
  EXPECT_EQ(o.mode, Mode::HELP);
}

TEST(PosixOptions, UnusableArguments) {
  const std::vector<std::vector<const char*>> bad = {
      {},                        {"-Sa.hex", "-Sb.hex"}, {"-sa.hex"}, {"a.hex"},
      {"-S"},                    {"-Sa.hex", "-C"},      {"-X1"},     {"--info"},
      {"--info", "a", "-Sa.hex"}, {"--nope"},            {"-"},       {"--header-only", "--header-only"},
      {"-Sa.hex", "--", "x"}};
  for (const auto& args : bad) {
    Options o;
    EXPECT_FALSE(read(args, &o)) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(o.problem.empty());
  }
}

TEST(Cp932, LineBreaksBecomeCrLf) {
  EXPECT_EQ(to_crlf("a\nb"), "a\r\nb");
  EXPECT_EQ(to_crlf("a\r\nb"), "a\r\nb");
  EXPECT_EQ(to_crlf("\n\n"), "\r\n\r\n");
  EXPECT_EQ(to_crlf("x\r"), "x\r");
}

TEST(Cp932, ConvertsJapaneseAndRefusesWhatItCannotHold) {
  std::string out, bad;
  ASSERT_EQ(utf8_to_cp932("abc", &out, &bad), TextError::NONE);
  EXPECT_EQ(out, "abc");
  ASSERT_EQ(utf8_to_cp932("いろは", &out, &bad), TextError::NONE);
  EXPECT_EQ(out, "\x82\xA2\x82\xEB\x82\xCD");
  ASSERT_EQ(utf8_to_cp932("ｱ～", &out, &bad), TextError::NONE);  // half-width kana: one byte
  EXPECT_EQ(out, "\xB1\x81\x60");
  EXPECT_EQ(utf8_to_cp932("ok😀", &out, &bad), TextError::NOT_CP932);
  EXPECT_EQ(bad, "😀");
  EXPECT_EQ(utf8_to_cp932("é", &out, &bad), TextError::NOT_CP932);
  EXPECT_EQ(utf8_to_cp932("a\xFF", &out, &bad), TextError::NOT_UTF8);
  EXPECT_EQ(bad, "\\xFF");
  EXPECT_EQ(utf8_to_cp932("a\xE3\x81", &out, &bad), TextError::NOT_UTF8);
  EXPECT_EQ(cp932_to_utf8("\x82\xA2\x82\xEB\x82\xCD"), "いろは");
  EXPECT_EQ(cp932_to_utf8("a\x81"), "a\\x81");
}

TEST(ImageInfo, VersionText) {
  EXPECT_EQ(format_version_text(0xA123), "1.23_A");
  EXPECT_EQ(format_version_text(0x0100), "1.00");
  EXPECT_EQ(format_version_text(0xF999), "9.99_F");
}

TEST(ImageInfo, ValidImageHeaderOnlyAndDamagedFiles) {
  ScratchDir dir;
  Converter converter{platform_file_services()};
  converter.flags.confirm_overwrite = false;
  write_text("in.hex", srecord_file({"S30900100100112233443B"}));
  ASSERT_EQ(converter.convert_to_image("in.hex", "out", "1.23_A", "\x82\xA2\x82\xEB\r\nx"), CONVERT_OK);
  std::string text;
  EXPECT_EQ(info("out.bin", &text), 0) << text;
  EXPECT_EQ(text.find("NG"), std::string::npos) << text;
  EXPECT_NE(text.find("1.23_A"), std::string::npos) << text;
  EXPECT_NE(text.find("いろ\n"), std::string::npos) << text;
  EXPECT_NE(text.find("0x00100000"), std::string::npos) << text;

  ASSERT_EQ(converter.write_header_only("hdr", "1.00", "c"), CONVERT_OK);
  EXPECT_EQ(info("hdr.bin", &text), EXIT_BAD_IMAGE);
  EXPECT_NE(text.find("header-only"), std::string::npos) << text;

  // One byte changed anywhere after offset 12 breaks the checksum.
  std::vector<std::uint8_t> image = read_bytes("out.bin");
  image[1000] ^= 1;
  write_text("bad.bin", std::string(image.begin(), image.end()));
  EXPECT_EQ(info("bad.bin", &text), EXIT_BAD_IMAGE);
  EXPECT_NE(text.find("computed"), std::string::npos) << text;
  // A missing block.
  image = read_bytes("out.bin");
  write_text("short.bin", std::string(image.begin(), image.begin() + 1024));
  EXPECT_EQ(info("short.bin", &text), EXIT_BAD_IMAGE);
  write_text("tiny.bin", "xyz");
  EXPECT_EQ(info("tiny.bin", &text), EXIT_BAD_IMAGE);
  EXPECT_EQ(info("missing.bin", &text), EXIT_NO_INPUT);
}
