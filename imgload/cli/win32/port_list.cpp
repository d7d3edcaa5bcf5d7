// The COM ports of the Windows command line: COMn and \\.\COMn for n = 1 to
// 256, opened by the name the system takes for each; for --list-ports the
// COM names the system's DOS device table holds and any other COMn that
// opens; and the advice, by the kind of failure, for a port that does not
// open.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "imgload/cli/advice.h"
#include "imgload/cli/port_list.h"
#include "platform/utf16.h"

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

// A COM port the system's device table does not name (Wine reaches ports
// through its dosdevices folder, which the table need not list) is listed
// when it opens; one another program holds is listed as in use. Ports the
// table names are not opened, so listing raises no device's DTR there.
bool port_opens(const std::wstring& name, std::string* note) {
  HANDLE handle = CreateFileW((L"\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    *note = "COM port";
    return true;
  }
  const DWORD error = GetLastError();
  *note = "COM port, in use by another program";
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
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

std::vector<PortCandidate> list_ports(const std::string&) {
  std::vector<PortCandidate> out;
  wchar_t target[TARGET_UNITS];
  for (int n = 1; n <= HIGHEST_COM; ++n) {
    const std::wstring name = L"COM" + std::to_wstring(n);
    std::string note;
    if (QueryDosDeviceW(name.c_str(), target, TARGET_UNITS) != 0) {
      if (!zp3k::narrow(target, &note)) note.clear();
      note = note.empty() ? "COM port" : "-> " + note;
    } else if (!port_opens(name, &note)) {
      continue;
    }
    std::string device;
    port_device("COM" + std::to_string(n), &device);
    out.push_back({device, note});
  }
  return out;
}

int show_port_list(std::FILE* out, std::FILE* notes, const std::string& dev) {
  const std::vector<PortCandidate> ports = list_ports(dev);
  for (const PortCandidate& p : ports) std::fprintf(out, "%s  %s\n", p.path.c_str(), p.note.c_str());
  if (ports.empty()) std::fprintf(notes, "imgload-cli: no COM ports found (COM1 to COM256)\n");
  return 0;
}

// A COM port another program holds is refused for access or sharing: the
// port reports it as in use.
Advice port_open_advice(const std::string& device, const zp3k::Status& why, long) {
  Advice advice{device + ": cannot open", ""};
  switch (why.result) {
    case zp3k::Result::NOT_FOUND:
      advice.detail = device + ": no such port";
      advice.hint = "see imgload-cli --list-ports";
      break;
    case zp3k::Result::IN_USE:
      advice.detail = device + ": access denied";
      advice.hint = "in use by another program";
      break;
    case zp3k::Result::WRONG_KIND: advice.hint = "not a serial device"; break;
    default:
      if (why.system_error != 0) {
        advice.detail += " (system error " + std::to_string(why.system_error) + ")";
      }
      break;
  }
  return advice;
}

}  // namespace imgload
