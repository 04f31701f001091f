#pragma once

// The part of the Windows interface this program uses. On Windows it is the real one; elsewhere
// platform/win32/ declares the same names and platform/posix/ implements them on the host's own
// interfaces, so that the code above reads the same on both. Code above includes this header,
// never platform/win32/ itself.

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX  // keeps windows.h from defining min and max as macros over std::min/std::max
#endif
// Only the core of windows.h: the rest (RPC, OLE, the old winsock.h) declares names such as
// `byte` that clash with ours. The shell's part is included by itself.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// In this order: winsock2.h before windows.h, the shell's part after it.
#include <winsock2.h>

#include <windows.h>

#include <shellapi.h>

#else

// The same names on the host's own interfaces: the kernel (handles, errors, mutexes, files,
// threads, time), then the user interface (windows, messages, timers, menus, the notification
// area, dialogs, the clipboard), then the shell's services (the registry's Run key, opening
// addresses, the module and the program entry).
#include "platform/win32/kernel.h"
#include "platform/win32/shell.h"
#include "platform/win32/user_interface.h"

#endif
