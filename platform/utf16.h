// UTF-8 and UTF-16: the portable core works on UTF-8, the Windows programs
// speak UTF-16 to the system (the W functions). Windows builds only
// (win32/utf16.cpp).
#pragma once

#include <string>

namespace zp3k {

// UTF-8 (the message tables, the core's paths) to UTF-16 for the system;
// a byte that is not UTF-8 becomes U+FFFD.
std::wstring widen(const char* utf8);
// The same, false when the text is not UTF-8 (a name the system must get
// exactly, or not at all).
bool widen_exact(const std::string& utf8, std::wstring* wide);
// UTF-16 from the system to UTF-8. An unpaired surrogate cannot name a file
// the core could pass back, so it makes the text unusable (false).
bool narrow(const std::wstring& wide, std::string* utf8);
// The same, an unpaired surrogate becoming U+FFFD (texts to show).
std::string narrow_lossy(const wchar_t* wide, std::size_t units);

}  // namespace zp3k
