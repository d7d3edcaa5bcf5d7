// Fuzzes the command-line reader (one Windows command line) and the Linux
// argument reader (the input split into arguments at line feeds).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imgconv/command_line.h"
#include "imgconv/cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  imgconv::CommandLineSlots slots;
  int r = imgconv::parse_command_line(text.c_str(), &slots);
  if (r < 0 || r > 4) std::abort();
  for (const auto& slot : slots.value) {
    if (std::memchr(slot, 0, sizeof slot) == nullptr) std::abort();
  }

  std::vector<std::string> words{"imgconv"};
  std::string word;
  for (char c : text) {
    if (c == '\n') {
      words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  words.push_back(word);
  std::vector<const char*> argv;
  for (const auto& w : words) argv.push_back(w.c_str());
  imgconv::Options options;
  bool ok = imgconv::read_options(static_cast<int>(argv.size()), argv.data(), &options);
  if (!ok && options.problem.empty()) std::abort();
  return 0;
}
