#pragma once

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "platform/win32.h"

namespace platform {

/// The character that joins a directory and a file name in paths this program forms itself.
#ifdef _WIN32
constexpr char kDirectorySeparator = '\\';
#else
constexpr char kDirectorySeparator = '/';
#endif

/// The line end of text files on this system: CR LF on Windows, LF elsewhere.
#ifdef _WIN32
constexpr char kTextLineEnd[] = "\r\n";
#else
constexpr char kTextLineEnd[] = "\n";
#endif

/// Creates `path` as a new, empty file open for writing; the bytes written reach the file
/// unchanged, line ends included. Returns nullptr when anything already stands at `path`, a
/// symbolic link included, or when the file cannot be created.
std::FILE* CreateNewFile(const std::string& path);

/// As CreateNewFile, for a text file: each LF written reaches the file as kTextLineEnd, and every
/// other byte unchanged.
std::FILE* CreateNewTextFile(const std::string& path);

/// As CreateNewFile, for a file that holds secrets: on POSIX systems only its owner may read or
/// write it (mode 0600); on Windows it gets the permissions its directory passes on.
std::FILE* CreateNewPrivateFile(const std::string& path);

/// Hands `create` names for a new file beside `path` until it answers that it created one: each
/// name is `path` followed by a dot and 16 hex digits from the system's random source, so a name
/// planted in advance is met only by chance.
/// `create` must create the file exclusively, failing when anything stands at the name.
/// kNewNameTries names at most; returns the name created, or an empty text when every try failed.
std::string CreateUnderNewName(const std::string& path,
                               const std::function<bool(const std::string& name)>& create);
constexpr int kNewNameTries = 10;

/// Puts the file `from` in the place of `to` in one step: a reader that opens `to` meanwhile gets
/// either the old file whole or the new one whole. Both must be in the same directory. On POSIX
/// systems the data of `from` reach the disk first, so that after a crash `to` is also one of
/// the two whole; false, `from` left in place, when they cannot be synced.
bool ReplaceFile(const std::string& from, const std::string& to);

/// Removes the file `path`; false when it was not there or could not be removed.
bool RemoveFile(const std::string& path);

/// The real path of the directory `path`, every link resolved, ending with kDirectorySeparator.
/// False when it does not resolve or names something other than a directory.
bool RealDirectoryPath(const char* path, std::string& real);

/// Opens `path` for reading (shared with other readers) when it names a regular file whose real
/// location lies inside `realDirectory`, a path as RealDirectoryPath gives it. A link that leads
/// outside, a directory, a FIFO or a device gives INVALID_HANDLE_VALUE, as a missing file does;
/// the check is made on the file actually opened, and opening never waits on a FIFO. Close the
/// handle with CloseHandle.
HANDLE OpenFileInside(const char* path, const std::string& realDirectory);

/// The last write time of an open file, in seconds since 1970 (UTC). False when it cannot be read.
bool GetLastWriteTime(HANDLE file, std::time_t& seconds);

}  // namespace platform
