#pragma once

#include <cstdio>
#include <string>

namespace platform {

/// The character that joins a directory and a file name in paths this program forms itself.
#ifdef _WIN32
constexpr char kDirectorySeparator = '\\';
#else
constexpr char kDirectorySeparator = '/';
#endif

/// Creates `path` as a new, empty file open for writing (text mode). Returns nullptr when anything
/// already stands at `path`, a symbolic link included, or when the file cannot be created.
std::FILE* CreateNewFile(const std::string& path);

/// Puts the file `from` in the place of `to` in one step: a reader that opens `to` meanwhile gets
/// either the old file whole or the new one whole. Both must be in the same directory.
bool ReplaceFile(const std::string& from, const std::string& to);

/// Removes the file `path`; false when it was not there or could not be removed.
bool RemoveFile(const std::string& path);

}  // namespace platform
