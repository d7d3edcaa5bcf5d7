// Texts of the POSIX front end that the message table does not hold:
// Japanese (UTF-8) first, then the English gloss.
#pragma once

#include "cli/program.h"

namespace imgconv {

using zp3k::EXIT_USAGE;             // a command line the program cannot use
constexpr int EXIT_BAD_IMAGE = 65;   // --info: the file is not a valid image
constexpr int EXIT_NO_INPUT = 66;    // --info: the file cannot be read

constexpr char TEXT_BAD_COMMAND_LINE[] = "コマンドラインが正しくありません (the command line cannot be used)";
constexpr char TEXT_NOT_CP932[] = "コメントに cp932 で表せない文字があります (the comment holds a character that cp932 cannot represent)";
constexpr char TEXT_NOT_UTF8[] = "コメントが UTF-8 ではありません (the comment is not valid UTF-8)";
constexpr char TEXT_WRITTEN[] = "出力ファイル (output file)";
constexpr char TEXT_CANNOT_READ[] = "ファイルを読めません (cannot read the file)";
constexpr char TEXT_VALID_IMAGE[] = "正しいイメージファイルです (valid image file)";
constexpr char TEXT_INVALID_IMAGE[] = "正しいイメージファイルではありません (not a valid image file)";
constexpr char TEXT_HEADER_ONLY_FILE[] = "ヘッダー情報のみのファイルです (header-only file)";
constexpr char TEXT_SEE_HELP[] = "使い方は imgconv --help (see imgconv --help)";
constexpr char TEXT_BIN_APPENDED[] = "警告: 出力ファイル名には常に .bin が付きます";

constexpr char TEXT_USAGE[] =
    "使い方 (usage):\n"
    "  imgconv [-q] -S SOURCE.hex -D NAME -V VERSION [-C COMMENT]\n"
    "      S-record ファイルをイメージファイル NAME.bin に変換します\n"
    "      (converts an S-record file into the image file NAME.bin)\n"
    "  imgconv [-q] --header-only -D NAME -V VERSION [-C COMMENT]\n"
    "      64 バイトのヘッダーのみのファイル NAME.bin を出力します (デバッグ用)\n"
    "      (writes the 64-byte header-only file NAME.bin, for debugging)\n"
    "  imgconv --info FILE\n"
    "      イメージファイルのヘッダーを表示して検査します\n"
    "      (shows and checks the header of an image file)\n"
    "  imgconv --help\n"
    "  imgconv --version\n"
    "      プログラムのバージョンを表示します (prints the program's version)\n"
    "\n"
    "オプション (options), value attached (-Sa.hex) or as the next argument (-S a.hex):\n"
    "  -S  変換元ファイルパス (source file path)\n"
    "  -D  変換先ファイル名, .bin is always appended (destination file name)\n"
    "  -V  ソフトウェアバージョン 0.00～9.99, optional suffix _0.._F as in 1.23_A\n"
    "      (software version)\n"
    "  -C  コメント, at most 30 bytes in cp932, a line break counts 2 bytes\n"
    "      (comment; empty when not given)\n"
    "  -q, --quiet  成功時は何も表示しません (prints nothing on success;\n"
    "      errors and warnings still go to standard error)\n"
    "\n"
    "NAME.bin is written as NAME says, from the current directory (-D out:\n"
    "./out.bin; -D /tmp/x/out: /tmp/x/out.bin, the folder must exist); on\n"
    "Windows a source path with a drive letter puts it beside the source.\n"
    "It is written under a temporary name and renamed when complete, so NAME.bin\n"
    "is always a whole file. An existing file is replaced without asking. A bad\n"
    "version or comment leaves it as it was, and so does an interrupted run\n"
    "(Ctrl-C; on Linux also SIGTERM, SIGHUP, SIGQUIT); a conversion that fails\n"
    "after its output was begun removes NAME.bin.\n"
    "\n"
    "終了コード (exit status): 0 success; 1-8 conversion error (1 source path,\n"
    "2 source open or record type, 3 destination open, 4 write, 5 read back,\n"
    "6 version, 7 comment, 8 corrupt record: its line and fault are shown);\n"
    "64 unusable command line; --info: 65 not a valid image, 66 cannot read\n"
    "the file; interrupted: ended by the signal (Windows: 130).\n";

}  // namespace imgconv
