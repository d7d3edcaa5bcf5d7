// Tests of the Linux front end's pieces: argument reader, cp932 conversion, --info.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imgconv/convert.h"
#include "image/image_format.h"
#include "imgconv/cli/failure_text.h"
#include "imgconv/cli/image_info.h"
#include "imgconv/cli/options.h"
#include "imgconv/cli/texts.h"
#include "test_files.h"

using namespace imgconv;
using namespace image;  // the image format
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
  ASSERT_TRUE(read({"-q", "-Sa.hex"}, &o));
  EXPECT_TRUE(o.quiet);
  ASSERT_TRUE(read({"--header-only", "--quiet", "-Dh"}, &o));
  EXPECT_TRUE(o.quiet);
  ASSERT_TRUE(read({"-Sa.hex"}, &o));
  EXPECT_FALSE(o.quiet);
}

TEST(PosixOptions, UnusableArguments) {
  const std::vector<std::vector<const char*>> bad = {
      {},                        {"-Sa.hex", "-Sb.hex"}, {"-sa.hex"}, {"a.hex"},
      {"-S"},                    {"-Sa.hex", "-C"},      {"-X1"},     {"--info"},
      {"--info", "a", "-Sa.hex"}, {"--nope"},            {"-"},       {"--header-only", "--header-only"},
      {"-Sa.hex", "--", "x"},   {"-q", "--info", "x.bin"}, {"-q"}};
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

// Each row a report and the options: the gloss names the path and reason,
// the line, or the missing option, with text from files escaped.
TEST(FailureGloss, EachCauseIsToldWithWhatItConcerns) {
  Options given;
  ASSERT_TRUE(read({"-S", "a\x1b.hex", "-Dout", "-V1.0"}, &given));
  Options missing;
  ASSERT_TRUE(read({"-C", "c"}, &missing));
  const auto report = [](FailureCause cause, const char* path = "", const char* reason = "") {
    ConvertReport r;
    r.cause = cause;
    std::snprintf(r.path, sizeof r.path, "%s", path);
    std::snprintf(r.reason, sizeof r.reason, "%s", reason);
    return r;
  };
  ConvertReport other = report(CAUSE_OTHER_RECORD);
  other.line = 5;
  other.record_type = '5';
  ConvertReport empty = report(CAUSE_EMPTY_LINE);
  empty.line = 9;
  ConvertReport junk = report(CAUSE_NOT_SRECORD);
  junk.line = 3;
  std::snprintf(junk.excerpt, sizeof junk.excerpt, "%s", ":1000\x07");
  ConvertReport cut = junk;
  cut.excerpt_cut = true;
  ConvertReport record = report(CAUSE_RECORD);
  record.line = 2;
  record.fault = RECORD_FAULT_CHECKSUM_WRONG;
  const struct {
    ConvertResult result;
    ConvertReport report;
    const Options& options;
    const char* gloss;
  } rows[] = {
      {CONVERT_ERR_SOURCE_OPEN, report(CAUSE_OPEN_SOURCE, "no\x1b[2J.hex", "No such file or directory"), given,
       "cannot open no\\x1b[2J.hex: No such file or directory"},
      {CONVERT_ERR_SOURCE_OPEN, report(CAUSE_READ_SOURCE, "a.hex", "Input/output error"), given,
       "cannot read a.hex: Input/output error"},
      {CONVERT_ERR_SOURCE_PATH, report(CAUSE_REWIND_SOURCE, "a.hex", "Illegal seek"), given,
       "cannot read a.hex again from its start: Illegal seek"},
      {CONVERT_ERR_DEST_OPEN, report(CAUSE_CREATE_OUTPUT, "/x/out.bin", "Permission denied"), given,
       "cannot create /x/out.bin: Permission denied"},
      {CONVERT_ERR_DEST_OPEN, report(CAUSE_REPLACE_OUTPUT, "/x/out.bin", "Is a directory"), given,
       "cannot replace /x/out.bin: Is a directory"},
      {CONVERT_ERR_DEST_WRITE, report(CAUSE_WRITE_OUTPUT, "out.bin", "No space left on device"), given,
       "cannot write out.bin: No space left on device"},
      {CONVERT_ERR_DEST_READ, report(CAUSE_READ_OUTPUT, "out.bin", "Input/output error"), given,
       "cannot read back out.bin: Input/output error"},
      {CONVERT_ERR_DEST_WRITE, report(CAUSE_NO_DATA), given,
       "destination file write error: no data byte of the source falls into the image"},
      {CONVERT_ERR_SOURCE_OPEN, other, given, "line 5: S5 record; only S0, S3 and S7 are read"},
      {CONVERT_ERR_SOURCE_OPEN, empty, given, "line 9 is empty"},
      {CONVERT_ERR_SOURCE_OPEN, junk, given, "line 3 is not an S-record: \":1000\\x07\""},
      {CONVERT_ERR_SOURCE_OPEN, cut, given, "line 3 is not an S-record: \":1000\\x07...\""},
      {CONVERT_ERR_SOURCE_RECORD, record, given, "bad record in the source file, line 2: the checksum is wrong"},
      {CONVERT_ERR_SOURCE_PATH, report(CAUSE_NO_EXTENSION), given,
       "source file path input error: the source path needs an extension (a '.'): a\\x1b.hex"},
      {CONVERT_ERR_SOURCE_PATH, report(CAUSE_NO_EXTENSION), missing, "-S (the source file path) is missing"},
      {CONVERT_ERR_DEST_OPEN, report(CAUSE_OUTPUT_NAME), missing, "-D (the destination file name) is missing"},
      {CONVERT_ERR_DEST_OPEN, report(CAUSE_OUTPUT_NAME), given, "the output path of out.bin is longer than 519 characters"},
      {CONVERT_ERR_VERSION, report(CAUSE_VERSION), missing, "-V (the version) is missing"},
      {CONVERT_ERR_VERSION, report(CAUSE_VERSION), given, "please enter the version number correctly (example: 1.23)"},
      {CONVERT_ERR_COMMENT, report(CAUSE_COMMENT), given,
       "please enter the comment in 30 bytes or fewer (line breaks included)"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(failure_gloss(row.result, row.report, row.options), row.gloss);
  }
}

TEST(FailureGloss, ANameEndingInBinIsWarnedAbout) {
  const std::string warning = bin_suffix_warning("x.bin");
  EXPECT_NE(warning.find("警告"), std::string::npos) << warning;
  EXPECT_NE(warning.find("(warning: the output is named x.bin.bin because \".bin\" is always appended)"),
            std::string::npos) << warning;
  EXPECT_NE(bin_suffix_warning("dir/X.BIN"), "");
  EXPECT_NE(bin_suffix_warning("\x1b.bin").find("\\x1b.bin.bin"), std::string::npos);
  for (const char* name : {"x", "bin", "xbin", "x.bin.", "x.bi", "x.binx", ""}) {
    EXPECT_EQ(bin_suffix_warning(name), "") << name;
  }
}

// --info shows a comment's escape sequences as text; its line breaks stay
// new lines under the first.
TEST(ImageInfo, ControlCharactersOfTheCommentAreEscaped) {
  ScratchDir dir;
  Converter converter{platform_file_services()};
  converter.flags.confirm_overwrite = false;
  ASSERT_EQ(converter.write_header_only("hdr", "1.00", "\x1b]0;t\x07\r\nx\ny\rz\x9b"), CONVERT_OK);
  std::string text;
  info("hdr.bin", &text);
  EXPECT_NE(text.find("comment:      \\x1b]0;t\\x07\n              x\n              y\\x0dz\\x9B"),
            std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
}
