#pragma once

// The Windows kernel as this program uses it: the basic types, handles and the last error,
// mutexes and waiting on them, files, threads and sleeping. Names, signatures and
// constant values are those of the Windows interface; platform/posix/kernel/ implements them.
//
// Included by platform/win32.h only where <windows.h> is not available.

#include <cstddef>
#include <cstdint>

// Calling conventions mean nothing here.
#define WINAPI
#define CALLBACK

using BOOL = int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using HANDLE = void*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using PLONG = LONG*;

using UINT = unsigned int;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using LPBYTE = BYTE*;
using LPSTR = char*;
using ATOM = WORD;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using INT_PTR = std::intptr_t;
using SIZE_T = std::size_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Handles of kernel objects (mutexes, files) are closed with CloseHandle.
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
BOOL CloseHandle(HANDLE object);

// The error of the last failing call on this thread.
DWORD GetLastError();
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_NOT_OWNER = 288;

// Mutexes. A name makes the mutex shared by every CreateMutexA of the same name in the process;
// the owning thread may wait on it again and must release it as often.
HANDLE CreateMutexA(LPVOID securityAttributes, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// Waits on a mutex; `milliseconds` may be INFINITE.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Files. Read access is always shared with others.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPVOID securityAttributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read, LPVOID overlapped);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written, LPVOID overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD origin);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

// Threads and time.

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

constexpr DWORD CREATE_SUSPENDED = 0x4;

/// Starts `start(parameter)` on a new thread, which runs on its own whether or not the handle is
/// kept. The handle serves only CloseHandle (it cannot be waited on here). `stackSize` is not used;
/// CREATE_SUSPENDED is not supported (ERROR_INVALID_PARAMETER). `threadId` may be null.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);

/// Suspends the calling thread; Sleep(0) gives up the rest of its time slice, INFINITE never ends.
void Sleep(DWORD milliseconds);
