// The console on Windows: the words read from the wide command line and
// made UTF-8, like every text of the core; a console shown UTF-8 and, when it
// can, the escape sequences of the progress bar. The C runtime writes to a
// console by taking each byte in its own locale's code page, which garbles
// UTF-8: standard output and error, when they are consoles, become pipes
// whose bytes a thread of their own hands to WriteConsoleW as UTF-16.
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "platform/utf16.h"

namespace zp3k {

namespace {

constexpr DWORD RELAY_BUFFER = 4096;       // bytes read from a stream's pipe at once
constexpr DWORD RELAY_DRAIN_MS = 2000;     // ms the end waits for the console to be written

// The console handle behind a stream's descriptor, or null when it is a
// file, a pipe or a device other than a console (where _isatty alone says
// yes, as for NUL).
HANDLE console_of(int fd) {
  if (!_isatty(fd)) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// One stream's relay: the pipe's reading end and the console it writes to.
struct Relay {
  HANDLE pipe = nullptr;
  HANDLE console = nullptr;
  HANDLE thread = nullptr;
};

// What the relays are, for the exit hook (which takes no context) and for
// the progress bar's probe; set once before any other thread runs.
struct Consoles {
  Relay streams[2];          // standard output, standard error
  bool shows_bar = false;    // standard output's console takes escape sequences
  bool shared = false;       // standard output and error are both the console
};
Consoles consoles;

// The length of text that ends on a whole UTF-8 character; the rest waits
// for the next read.
DWORD whole_characters(const char* text, DWORD length) {
  DWORD start = length;
  for (DWORD back = 1; back <= 3 && back <= length; ++back) {
    const unsigned char c = static_cast<unsigned char>(text[length - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const DWORD needed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    start = needed > back ? length - back : length;
    break;
  }
  return start;
}

DWORD WINAPI relay_thread(void* parameter) {
  Relay* relay = static_cast<Relay*>(parameter);
  char buffer[RELAY_BUFFER + 4];
  DWORD kept = 0;  // the start of a character cut by the last read
  DWORD got = 0;
  while (ReadFile(relay->pipe, buffer + kept, RELAY_BUFFER, &got, nullptr) && got > 0) {
    const DWORD length = kept + got;
    const DWORD whole = whole_characters(buffer, length);
    const std::wstring wide = widen(std::string(buffer, whole).c_str());
    DWORD written = 0;
    (void)WriteConsoleW(relay->console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    kept = length - whole;
    for (DWORD i = 0; i < kept; ++i) buffer[i] = buffer[whole + i];
  }
  return 0;
}

// Makes descriptor fd a pipe that relay fills the console from; false (and
// the stream left as it is) when that cannot be done.
bool start_relay(int fd, HANDLE console, Relay* relay) {
  // The descriptor's handle is closed when the pipe takes its place: the
  // relay writes through a handle of its own.
  HANDLE own_console = nullptr;
  const HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, console, process, &own_console, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  const int write_fd = CreatePipe(&read_end, &write_end, nullptr, 0)
                           ? _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_BINARY)
                           : -1;
  if (write_fd < 0 || _dup2(write_fd, fd) != 0) {
    if (write_fd >= 0) _close(write_fd); else if (write_end != nullptr) CloseHandle(write_end);
    if (read_end != nullptr) CloseHandle(read_end);
    CloseHandle(own_console);
    return false;
  }
  _close(write_fd);
  *relay = Relay{read_end, own_console, nullptr};
  relay->thread = CreateThread(nullptr, 0, relay_thread, relay, 0, nullptr);
  return relay->thread != nullptr;
}

}  // namespace

// A word the wide command line holds that is no valid UTF-16 (an unpaired
// surrogate) can name no file the core could open: the ANSI word stands in
// for it, and is refused like any name that is not found.
CommandWords::CommandWords(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; i < count; ++i) {
    std::string word;
    if (!narrow(wide[i], &word) && i < argc) word = argv[i];
    words_.push_back(word);
  }
  if (wide != nullptr) LocalFree(wide);
  if (wide == nullptr) words_.assign(argv, argv + argc);
  for (std::string& w : words_) pointers_.push_back(&w[0]);
  pointers_.push_back(nullptr);
}

void prepare_console() {
  HANDLE out = console_of(_fileno(stdout));
  if (out != nullptr) {
    (void)SetConsoleOutputCP(CP_UTF8);
    DWORD mode = 0;
    // Refused by consoles older than Windows 10: the line view is used there.
    consoles.shows_bar = GetConsoleMode(out, &mode) &&
                         SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  // A process has one console: two console streams are the same one.
  consoles.shared = out != nullptr && console_of(_fileno(stderr)) != nullptr;
  FILE* const streams[2] = {stdout, stderr};
  bool relayed = false;
  for (int i = 0; i < 2; ++i) {
    HANDLE console = console_of(_fileno(streams[i]));
    if (console == nullptr || !start_relay(_fileno(streams[i]), console, &consoles.streams[i])) continue;
    // Unbuffered: each write reaches the console at once, as it would direct.
    std::setvbuf(streams[i], nullptr, _IONBF, 0);
    relayed = true;
  }
  if (relayed) std::atexit(finish_console);
}

void finish_console() {
  std::fflush(nullptr);
  FILE* const streams[2] = {stdout, stderr};
  for (int i = 0; i < 2; ++i) {
    Relay& relay = consoles.streams[i];
    if (relay.thread == nullptr) continue;
    // Closing the writing end ends the relay's reads once it has shown all.
    _close(_fileno(streams[i]));
    (void)WaitForSingleObject(relay.thread, RELAY_DRAIN_MS);
    relay.thread = nullptr;
  }
}

bool console_shows_bar() { return consoles.shows_bar; }

bool streams_share_console() { return consoles.shared; }

}  // namespace zp3k
