// Internal to the batch library on Windows: names as the system takes them, and what
// the pool shares with the handling of Ctrl+C (signals_windows.cpp).
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <string_view>

namespace batch {

// A name (UTF-8) as UTF-16 for the system's calls: its full form, with the \\?\ prefix
// when it is longer than the system takes without one. Empty when it is no name (a NUL
// byte in it).
std::wstring system_name(std::string_view name);

// The full form of a name (GetFullPathNameW), empty when the system gives none.
std::wstring full_name_of(const std::wstring& name);

// UTF-16 as UTF-8.
std::string utf8_of(std::wstring_view text);

// The errno value for a system error code.
int errno_of(DWORD error);

// Signalled once an ending signal (Ctrl+C, Ctrl+Break, closing) has arrived, while
// the signals are held.
HANDLE ending_event();

}  // namespace batch
