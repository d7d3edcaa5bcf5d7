// The COM ports of the Windows command line: COMn and \\.\COMn for n = 1 to
// 256, opened by the name the system takes for each, and the COM names the
// system's DOS device table holds for --list-ports.
#include <windows.h>

#include <cctype>
#include <string>

#include "imgload/cli/port_list.h"
#include "resources/win32_text.h"

namespace imgload {

namespace {

constexpr int HIGHEST_COM = 256;           // COM1..COM256, as the system numbers them
constexpr int FIRST_NEEDING_PREFIX = 10;   // COM10 and up open only as \\.\COMn
constexpr DWORD TARGET_UNITS = 1024;       // UTF-16 units of a DOS device's targets

// n of "COMn" (any case), 1..HIGHEST_COM written without leading zeros; 0
// for any other word.
int com_number(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n <= HIGHEST_COM ? n : 0;
}

}  // namespace

const char DEFAULT_PORT_DEVICE[] = "COM1";

bool port_device(const std::string& word, std::string* device) {
  const std::string prefix = "\\\\.\\";
  const bool prefixed = word.compare(0, prefix.size(), prefix) == 0;
  const int n = com_number(prefixed ? word.substr(prefix.size()) : word);
  if (n == 0) return false;
  // COM1..COM9 as the dialog program opens them; the others need the
  // device name space's prefix for CreateFileW to find them.
  *device = (n < FIRST_NEEDING_PREFIX ? "COM" : prefix + "COM") + std::to_string(n);
  return true;
}

std::vector<PortCandidate> list_ports() {
  std::vector<PortCandidate> out;
  wchar_t target[TARGET_UNITS];
  for (int n = 1; n <= HIGHEST_COM; ++n) {
    const std::wstring name = L"COM" + std::to_wstring(n);
    if (QueryDosDeviceW(name.c_str(), target, TARGET_UNITS) == 0) continue;
    std::string note;
    if (!zp3k::narrow(target, &note)) note.clear();
    std::string device;
    port_device("COM" + std::to_string(n), &device);
    out.push_back({device, note.empty() ? "COM port" : "-> " + note});
  }
  return out;
}

}  // namespace imgload
