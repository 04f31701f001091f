#pragma once

// The shell's services in the shape of the Windows calls: the current user's Run key (kept as an
// XDG autostart entry), opening an address in the desktop's default program, the program's module
// and entry point. platform/posix/desktop/ implements them.
//
// Included by platform/win32.h only where <windows.h> is not available.

#include <cstdint>
#include <string>

#include "platform/win32/user_interface.h"

using HKEY = void*;
using LSTATUS = LONG;
using REGSAM = DWORD;
using PHKEY = HKEY*;
using INT = int;

constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_MORE_DATA = 234;

// ---- Registry ---------------------------------------------------------------------------------
//
// One key exists: HKEY_CURRENT_USER "Software\Microsoft\Windows\CurrentVersion\Run" (key names
// compare without regard to ASCII case, as on Windows), holding at most the one string value that
// platform::SetProgramNames names (platform/program_names.h), and none before it is called. The
// value is the autostart entry's file named there, in $XDG_CONFIG_HOME/autostart
// (~/.config/autostart by default): present exactly when the value exists, its Exec line the
// command in the value's data, the data itself kept byte for byte beside it. Other keys cannot be
// opened (ERROR_FILE_NOT_FOUND); other value names under Run are refused.

#define HKEY_CURRENT_USER \
  (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<LONG>(0x80000001))))

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr DWORD REG_SZ = 1;

/// Opens `subKey` of `key` with the rights `desired`; the key must later go to RegCloseKey.
/// Querying needs KEY_QUERY_VALUE, setting and deleting need KEY_SET_VALUE (else
/// ERROR_ACCESS_DENIED).
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);

/// Reads a value. With `data` null (and `size` set) only tells the size. `*size` is the buffer's
/// capacity on the way in and the data's size on the way out; a buffer too small gives
/// ERROR_MORE_DATA and leaves the buffer as it was. The data comes back exactly as it was set,
/// so a REG_SZ value set with its terminating zero (the usual way) carries it.
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);

/// Creates or replaces a REG_SZ value with `size` bytes of `data` (count the terminating zero).
/// The text up to the first zero byte is the command to start; it must be UTF-8 without control
/// characters and not empty (else ERROR_INVALID_PARAMETER, nothing written).
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);

/// Removes a value; ERROR_FILE_NOT_FOUND when there is none.
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);

LSTATUS RegCloseKey(HKEY key);

// ---- Opening addresses ------------------------------------------------------------------------

constexpr int SW_SHOWDEFAULT = 10;  // SW_SHOWNORMAL and the others come with ShowWindow
constexpr int SE_ERR_FNF = 2;
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_OOM = 8;
constexpr int SE_ERR_NOASSOC = 31;

/// With the verb "open" (or none), hands `file` (a web address, a file URL or a path) to the
/// desktop's xdg-open, started detached in a session of its own; its exit is collected in the
/// background. Returns a value above 32 once xdg-open runs, else one of the SE_ERR_ codes
/// (SE_ERR_NOASSOC: no xdg-open on PATH, another verb, or parameters given). `directory` and
/// `showCommand` are not used.
HINSTANCE ShellExecuteA(HWND window, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                        LPCSTR directory, INT showCommand);

// ---- The module and the program entry ---------------------------------------------------------

/// The program's own module for a null name; other modules are not known (null,
/// ERROR_MOD_NOT_FOUND).
HMODULE GetModuleHandleA(LPCSTR moduleName);

/// The running program's full path into `fileName`. Returns its length; when it does not fit it is
/// cut to `size` - 1 bytes and a zero, the result is `size` and the last error
/// ERROR_INSUFFICIENT_BUFFER. 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

/// The program's entry, defined by the program.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);

namespace platform {

/// Calls WinMain as Windows would: the program's module, no previous instance, the arguments after
/// the program name joined by spaces, SW_SHOWDEFAULT. For the program's main:
/// `int main(int argc, char** argv) { return platform::RunWinMain(argc, argv); }`
inline int RunWinMain(int argc, char** argv) {
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) {
      commandLine += ' ';
    }
    commandLine += argv[i];
  }
  return WinMain(GetModuleHandleA(nullptr), nullptr, &commandLine[0], SW_SHOWDEFAULT);
}

}  // namespace platform
