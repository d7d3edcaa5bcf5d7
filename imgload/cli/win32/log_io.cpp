// The production log's file and host name on Windows: FILE_APPEND_DATA, one WriteFile, the DNS host name.
#include <windows.h>

#include "imgload/cli/production_log.h"

namespace imgload {

namespace {

std::wstring to_utf16(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      &wide[0], units);
  return wide;
}

std::string to_utf8(const wchar_t* wide, DWORD units) {
  if (units == 0) return std::string();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), nullptr, 0,
                                        nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), &text[0], bytes, nullptr, nullptr);
  return text;
}

}  // namespace

bool append_to_log(const std::string& path, const std::string& text) {
  const std::wstring wide = to_utf16(path);
  if (wide.empty()) return false;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of
  // the file as one step, so several processes may share the log; sharing
  // read and write lets them hold it open at the same time.
  const HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool wrote = text.empty() ||
                     WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
  const bool closed = CloseHandle(file) != 0;
  return wrote && closed && written == text.size();
}

std::string host_name() {
  wchar_t name[256] = {};  // units: more than a DNS host name holds (63)
  DWORD units = sizeof name / sizeof name[0];
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &units)) return std::string();
  return to_utf8(name, units);
}

}  // namespace imgload
