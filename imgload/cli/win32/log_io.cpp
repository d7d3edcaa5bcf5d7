// The output files and streams on Windows: the log appended with
// FILE_APPEND_DATA, one WriteFile per line; the trace; standard output and
// error written with WriteFile on their handles; every file refused when it
// is a folder, a pipe or a device other than NUL; the DNS host name.
#include <windows.h>
#include <io.h>

#include <cstdio>

#include "imgload/cli/output_queue.h"
#include "imgload/cli/production_log.h"
#include "platform/files.h"
#include "platform/utf16.h"

namespace imgload {

namespace {

// The null device, however it is spelt: NUL, nul, \\.\NUL.
bool names_null_device(const std::wstring& path) {
  std::wstring name = path;
  if (name.rfind(L"\\\\.\\", 0) == 0) name = name.substr(4);
  return CompareStringOrdinal(name.c_str(), -1, L"NUL", -1, TRUE) == CSTR_EQUAL;
}

// Opens path to write (as access and disposition say); INVALID_HANDLE_VALUE
// with the refusal for a folder, a pipe, a device other than NUL, or what the
// system refuses. Opening a pipe or a device never waits on Windows; its kind
// is judged on the handle.
HANDLE open_target(const std::string& path, DWORD access, DWORD disposition, const char* role,
                   std::string* refusal) {
  std::wstring wide;
  if (!zp3k::widen_exact(path, &wide)) wide.clear();
  // The device namespace (\\.\COM1, \\.\pipe\name) is refused before any
  // opening: opening a serial port would raise its DTR.
  if (wide.rfind(L"\\\\.\\", 0) == 0 && !names_null_device(wide)) {
    const bool pipe = CompareStringOrdinal(wide.substr(4, 5).c_str(), -1, L"pipe\\", -1, TRUE) == CSTR_EQUAL;
    *refusal = "cannot use " + path + " as the " + role + (pipe ? ": it is a pipe" : ": it is a device");
    return INVALID_HANDLE_VALUE;
  }
  const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *refusal = "cannot use " + path + " as the " + role + ": it is a folder";
    return INVALID_HANDLE_VALUE;
  }
  // Sharing read and write lets several processes hold the log open at once.
  const HANDLE file = wide.empty() ? INVALID_HANDLE_VALUE
                                   : CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *refusal = std::string("cannot open the ") + role + " file: " + path + ": " +
               (wide.empty() ? std::string("not a usable name") : zp3k::system_error_words(static_cast<int>(GetLastError())));
    return INVALID_HANDLE_VALUE;
  }
  const DWORD type = GetFileType(file);
  const char* kind = type == FILE_TYPE_DISK                              ? nullptr
                     : type == FILE_TYPE_PIPE                            ? "it is a pipe"
                     : type == FILE_TYPE_CHAR && names_null_device(wide) ? nullptr
                                                                         : "it is a device";
  if (kind == nullptr) return file;
  CloseHandle(file);
  *refusal = "cannot use " + path + " as the " + role + ": " + kind;
  return INVALID_HANDLE_VALUE;
}

class HandleSink : public OutputSink {
 public:
  HandleSink(HANDLE handle, bool owned) : handle_(handle), owned_(owned) {}
  ~HandleSink() override {
    if (owned_) CloseHandle(handle_);
  }
  bool write(const std::string& text, std::string* reason) override {
    std::size_t done = 0;
    while (done < text.size()) {
      DWORD written = 0;
      if (!WriteFile(handle_, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                     nullptr)) {
        *reason = zp3k::system_error_words(static_cast<int>(GetLastError()));
        return false;
      }
      if (written == 0) {
        *reason = "nothing written";
        return false;
      }
      done += written;
    }
    return true;
  }

 private:
  HANDLE handle_;
  bool owned_;
};

}  // namespace

// The stream's handle as the C runtime holds it: a console's relay pipe
// (win32/console.cpp) or the file or pipe the program was given.
std::unique_ptr<OutputSink> standard_sink(StandardStream stream) {
  const int fd = _fileno(stream == StandardStream::OUTPUT_STREAM ? stdout : stderr);
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return std::make_unique<HandleSink>(handle, false);
}

std::unique_ptr<OutputSink> open_output_file(const std::string& path, const char* role,
                                             std::string* refusal) {
  const HANDLE file = open_target(path, GENERIC_WRITE, CREATE_ALWAYS, role, refusal);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<HandleSink>(file, true);
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of
// the file as one step, so several processes may share the log.
bool check_log_target(const std::string& path, std::string* refusal) {
  const HANDLE file = open_target(path, FILE_APPEND_DATA, OPEN_ALWAYS, "log", refusal);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool append_to_log(const std::string& path, const std::string& text, std::string* reason) {
  const HANDLE file = open_target(path, FILE_APPEND_DATA, OPEN_ALWAYS, "log", reason);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool wrote = text.empty() ||
                     WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
  const DWORD error = wrote ? 0 : GetLastError();
  const bool closed = CloseHandle(file) != 0;
  if (wrote && closed && written == text.size()) return true;
  *reason = "cannot write the log file: " + path + ": " +
            (error != 0 ? zp3k::system_error_words(static_cast<int>(error)) : std::string("written only in part"));
  return false;
}

std::string host_name() {
  wchar_t name[256] = {};  // units: more than a DNS host name holds (63)
  DWORD units = sizeof name / sizeof name[0];
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &units)) return std::string();
  return zp3k::narrow_lossy(name, units);
}

}  // namespace imgload
