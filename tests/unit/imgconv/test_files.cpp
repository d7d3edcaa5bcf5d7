// Test helpers of the converter tests.
#include "test_files.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

namespace imgconv_test {

ScratchDir::ScratchDir() : previous_(std::filesystem::current_path()) {
  static std::mt19937 rng(std::random_device{}());
  for (;;) {
    dir_ = std::filesystem::temp_directory_path() /
           ("imgconv_test_" + std::to_string(rng()));
    if (std::filesystem::create_directory(dir_)) break;
  }
  std::filesystem::current_path(dir_);
}

ScratchDir::~ScratchDir() {
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void write_text(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

std::vector<std::uint8_t> read_bytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(name, ec));
}

std::string s3(std::uint32_t address, const std::vector<std::uint8_t>& data) {
  unsigned count = static_cast<unsigned>(data.size()) + 5;
  unsigned sum = count + (address & 0xFF) + ((address >> 8) & 0xFF) + ((address >> 16) & 0xFF) +
                 ((address >> 24) & 0xFF);
  char buf[16];
  std::snprintf(buf, sizeof buf, "S3%02X%08X", count & 0xFF, address);
  std::string line = buf;
  for (std::uint8_t b : data) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    line += buf;
    sum += b;
  }
  std::snprintf(buf, sizeof buf, "%02X", (~sum) & 0xFF);
  return line + buf;
}

std::string srecord_file(const std::vector<std::string>& records, const std::string& eol) {
  std::string text = "S00600004844521B" + eol;
  for (const auto& r : records) text += r + eol;
  return text + "S70500000000FA" + eol;
}

}  // namespace imgconv_test
