#pragma once

// The loop is written against the Windows console and shell operations. On
// Windows they are the real API; elsewhere platform_posix.cpp provides the
// same names over a terminal and the desktop's address opener.

#ifdef _WIN32

#include <windows.h>
// windows.h must come first.
#include <shellapi.h>

#else

#include <cstdint>

using BOOL = int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LPDWORD = DWORD *;
using LPCSTR = const char *;
using HWND = void *;
using HINSTANCE = void *;
using INT = int;
// A file descriptor, or INVALID_HANDLE_VALUE where there is no terminal
// behind it, as a redirected stream has no console behind it on Windows.
using HANDLE = int;

inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;
inline constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
inline constexpr INT SW_HIDE = 0;

BOOL SetConsoleTitleA(LPCSTR title);
HANDLE GetStdHandle(DWORD stdHandle);
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL SetConsoleTextAttribute(HANDLE console, WORD attributes);
HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                        LPCSTR directory, INT showCommand);

#endif
