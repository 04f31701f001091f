#pragma once

// Directories the layer finds or makes for the user: the home directory, the XDG base
// directories, and a path of directories made down to its end.

#include <sys/types.h>

#include <string>

namespace platform {

/// The user's home directory: $HOME when it is an absolute path, else the one the user database
/// gives for the effective user (looked up in a thread-safe way), as the database holds it. Empty
/// when neither is to be had.
std::string HomeDirectory();

/// An XDG base directory: $`variable` when it is an absolute path, else the home directory with
/// `fallback` (such as "/.config") added. Empty when neither is to be had.
std::string XdgBaseDirectory(const char* variable, const char* fallback);

/// Makes `path` and every directory above it that is missing, each new one with `mode` (less the
/// umask); those already there stay as they are. False, errno set, when one cannot be made for a
/// reason other than that something is already there; a file in the way is not told apart.
bool MakeDirectories(const std::string& path, mode_t mode);

}  // namespace platform
