#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/win32.h"

/// What the user set up: whose friends are followed, with which password, how often.
struct Settings {
  std::string userName;               ///< at most 255 bytes, no zero byte
  std::string password;               ///< at most 255 bytes, no zero byte; empty: no authentication
  std::int32_t updateInterval = 600;  ///< seconds between update cycles, as stored
};

/// The settings of the process. Read and written under UpdateMutex, except by LoadSettings at
/// start-up, before other threads exist.
extern Settings AppSettings;

/// The lock named "UpdateMutex" that guards AppSettings and the update cycle's shared state;
/// created by start-up before anything uses it.
extern HANDLE UpdateMutex;

/// A copy of AppSettings taken under UpdateMutex; the caller must not hold it.
Settings CopySettings();

/// The settings file, relative to the current directory (the program's own).
extern const char kSettingsFileName[];

/// Loads "settings.dat" into AppSettings. A missing, unreadable or damaged file (shorter than its
/// length fields announce, or a name or password longer than 255 bytes) leaves AppSettings as it
/// was and the file untouched.
void LoadSettings();

/// Writes AppSettings, copied under UpdateMutex, to "settings.dat": a new file beside it (mode 0600
/// on POSIX systems), created without following any link, takes its place once it is whole, so a
/// failure or crash leaves the old file. The caller must not hold UpdateMutex. Failures are not
/// reported: the settings then stay in memory only, and no new file is left behind.
void SaveSettings();

/// The bytes of "settings.dat" for `settings`: user name and password (password bytes plus 10,
/// modulo 256) each behind a 32-bit little-endian length, then the interval; each LF byte of that
/// layout is stored as CR LF, as Windows text files store it, so every copy of the program reads
/// the file the same way. Names are cut at a zero byte and at 255 bytes.
std::string EncodeSettingsFile(const Settings& settings);

/// Decodes the bytes of "settings.dat" (CR LF read back as LF first); nothing when they are
/// shorter than the layout announces or a length is beyond 0 to 255. Bytes after the interval
/// are ignored.
std::optional<Settings> DecodeSettingsFile(const std::string& bytes);
