// Test helpers of the converter tests: a private working folder and whole-file read and write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace imgconv_test {

// Makes a fresh folder, makes it the current directory, and returns to the
// previous one (removing the folder) when destroyed.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

void write_text(const std::string& name, const std::string& text);
std::vector<std::uint8_t> read_bytes(const std::string& name);
bool exists(const std::string& name);

// An S3 record with a correct byte count and checksum.
std::string s3(std::uint32_t address, const std::vector<std::uint8_t>& data);

// S0 + records + S7, one per line, with the given line end.
std::string srecord_file(const std::vector<std::string>& records, const std::string& eol = "\n");

}  // namespace imgconv_test
