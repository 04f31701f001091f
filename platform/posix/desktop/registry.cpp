// The current user's Run key, kept as XDG autostart entries. The program's one value, under the
// names it gave to SetProgramNames, is the autostart entry's file of that name in the autostart
// folder: the desktop starts its Exec line at log-in, and the value's data is kept beside it, byte
// for byte, so that it reads back exactly as it was set.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/posix/kernel/directories.h"
#include "platform/posix/kernel/kernel_objects.h"
#include "platform/posix/kernel/system_calls.h"
#include "platform/program_names.h"
#include "platform/win32.h"

namespace platform {
namespace {

constexpr char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kDataKey[] = "X-Zarnik-Viewer-Data";
constexpr std::size_t kMaxDataSize = 32 * 1024;
constexpr std::size_t kMaxEntryFileSize = 4 * kMaxDataSize;
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool EqualsIgnoringAsciiCase(const char* text, const std::string& expected) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return text != nullptr && std::strlen(text) == expected.size() &&
         std::equal(expected.begin(), expected.end(), text,
                    [&](char a, char b) { return lower(a) == lower(b); });
}

// The program's value, once the program has given its names.
bool IsAutostartValue(LPCSTR valueName) {
  const ProgramNames names = CurrentProgramNames();
  return !names.runValueName.empty() && !names.autostartFileName.empty() &&
         EqualsIgnoringAsciiCase(valueName, names.runValueName);
}

// An open Run key, with the rights it was opened for.
class RunKeyHandle : public KernelObject {
 public:
  explicit RunKeyHandle(REGSAM rights) : rights_(rights) {}
  bool Allows(REGSAM right) const { return (rights_ & right) == right; }

 private:
  REGSAM rights_;
};

// ---- The command in the value's data, as a desktop entry's Exec line ----

// Structurally valid UTF-8 without control characters: what a desktop entry's string may hold.
bool IsPrintableUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      return false;
    }
    int following = byte < 0x80                    ? 0
                    : byte >= 0xC2 && byte <= 0xDF ? 1
                    : byte >= 0xE0 && byte <= 0xEF ? 2
                    : byte >= 0xF0 && byte <= 0xF4 ? 3
                                                   : -1;
    if (following < 0 || text.size() - i <= static_cast<std::size_t>(following)) {
      return false;
    }
    for (int k = 1; k <= following; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += 1 + following;
  }
  return true;
}

// Splits a Windows command line into its arguments: spaces and tabs separate them outside double
// quotes, and each double quote opens or closes quoting. Backslashes are plain characters, as in
// the program name on Windows and in any path here. The program's own value is its path in double
// quotes, and on this platform that path may itself hold a double quote, which would close the
// quoting early: a command that is one quoted whole is therefore one argument.
std::vector<std::string> SplitCommandLine(const std::string& command) {
  if (command.size() >= 2 && command.front() == '"' && command.back() == '"') {
    return {command.substr(1, command.size() - 2)};
  }
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (char c : command) {
    if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) {
        arguments.push_back(current);
        current.clear();
        inArgument = false;
      }
    } else {
      inArgument = true;
      if (c == '"') {
        quoted = !quoted;
      } else {
        current += c;
      }
    }
  }
  if (inArgument) {
    arguments.push_back(current);
  }
  return arguments;
}

// A command the desktop can start: printable UTF-8 that names a program.
bool IsStartableCommand(const std::string& command) {
  std::vector<std::string> arguments = SplitCommandLine(command);
  return IsPrintableUtf8(command) && !arguments.empty() && !arguments.front().empty();
}

// One argument of an Exec line: quoted when it holds a reserved character, with the characters
// that stay special inside quotes escaped, and every % doubled so none reads as a field code.
std::string QuoteExecArgument(const std::string& argument) {
  bool needsQuotes =
      argument.empty() || argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  std::string quoted = needsQuotes ? "\"" : "";
  for (char c : argument) {
    if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
      quoted += '\\';
    }
    quoted += c;
    if (c == '%') {
      quoted += '%';
    }
  }
  if (needsQuotes) {
    quoted += '"';
  }
  return quoted;
}

// The Exec value as written in the file: a desktop entry string, so each backslash of the
// quoting above is escaped once more.
std::string ExecLine(const std::string& command) {
  std::string line;
  for (const std::string& argument : SplitCommandLine(command)) {
    if (!line.empty()) {
      line += ' ';
    }
    for (char c : QuoteExecArgument(argument)) {
      line += c;
      if (c == '\\') {
        line += '\\';
      }
    }
  }
  return line;
}

// ---- The data, kept verbatim ----

// Percent-encodes every byte that is not plain printable ASCII, and the space, %, and backslash,
// so the line is a valid desktop entry string whatever the data holds (the terminating zero too).
std::string EncodeData(const std::string& data) {
  std::string encoded;
  for (char c : data) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == '\\') {
      encoded += '%';
      encoded += kHexDigits[byte >> 4];
      encoded += kHexDigits[byte & 0x0F];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

// The value of an upper-case hexadecimal digit, the only case the encoder writes; -1 for others.
int HexDigit(char c) {
  const char* found = c != '\0' ? std::strchr(kHexDigits, c) : nullptr;
  return found != nullptr ? static_cast<int>(found - kHexDigits) : -1;
}

std::optional<std::string> DecodeData(const std::string& encoded) {
  std::string data;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      data += encoded[i];
      continue;
    }
    if (i + 2 >= encoded.size()) {
      return std::nullopt;
    }
    int high = HexDigit(encoded[i + 1]);
    int low = HexDigit(encoded[i + 2]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    data += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return data;
}

std::string DesktopEntryText(const std::string& data) {
  const std::string command = data.substr(0, data.find('\0'));
  return "[Desktop Entry]\nType=Application\nName=" + CurrentProgramNames().runValueName +
         "\nExec=" + ExecLine(command) + "\n" + kDataKey + "=" + EncodeData(data) + "\n";
}

// The data kept in an entry's text; none when the entry does not hold it (written by hand or by
// another program) or holds it damaged.
std::optional<std::string> DataFromDesktopEntry(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  bool inMainGroup = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    std::size_t equals = line.find('=');
    if (!inMainGroup || equals == std::string::npos) {
      continue;
    }
    std::string key = line.substr(0, equals);
    key.erase(key.find_last_not_of(' ') + 1);
    if (key == kDataKey) {
      std::size_t value = line.find_first_not_of(' ', equals + 1);
      return DecodeData(value == std::string::npos ? std::string() : line.substr(value));
    }
  }
  return std::nullopt;
}

// ---- The autostart folder ----

// Where the desktop looks for the user's autostart entries: $XDG_CONFIG_HOME/autostart, where
// that is an absolute path, else ~/.config/autostart. Empty when there is no home to be found.
std::string AutostartFolder() {
  const std::string config = XdgBaseDirectory("XDG_CONFIG_HOME", "/.config");
  return !config.empty() && config[0] == '/' ? config + "/autostart" : std::string();
}

// Creates `folder` and its missing parents, private to the user.
bool MakeFolders(const std::string& folder) {
  if (!MakeDirectories(folder, 0700)) {
    return false;
  }
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Replaces `path` with `text` in one step: readers see the old entry or the new one, never a part.
LSTATUS WriteFileAtomically(const std::string& folder, const std::string& path,
                            const std::string& text) {
  std::string temporary = folder + "/." + CurrentProgramNames().autostartFileName + ".XXXXXX";
  int descriptor = mkstemp(&temporary[0]);
  if (descriptor < 0) {
    return ErrorFromErrno(errno);
  }
  const bool written = WriteAll(descriptor, text) && fchmod(descriptor, 0644) == 0;
  const bool closed = close(descriptor) == 0;
  if (!written || !closed || !ReplaceFile(temporary, path)) {
    unlink(temporary.c_str());
    return ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

// The autostart entry behind the program's value.
class AutostartEntry {
 public:
  AutostartEntry() : folder_(AutostartFolder()) {}

  LSTATUS Read(std::string& data) const {
    if (folder_.empty()) {
      return ERROR_FILE_NOT_FOUND;
    }
    std::ifstream file(Path(), std::ios::binary);
    if (!file) {
      return ERROR_FILE_NOT_FOUND;
    }
    std::string text(kMaxEntryFileSize + 1, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    std::optional<std::string> stored =
        text.size() <= kMaxEntryFileSize ? DataFromDesktopEntry(text) : std::nullopt;
    if (!stored) {
      return ERROR_FILE_NOT_FOUND;
    }
    data = *stored;
    return ERROR_SUCCESS;
  }

  LSTATUS Write(const std::string& data) const {
    if (folder_.empty() || !MakeFolders(folder_)) {
      return ERROR_PATH_NOT_FOUND;
    }
    return WriteFileAtomically(folder_, Path(), DesktopEntryText(data));
  }

  // The file goes whatever it holds: its name is the program's.
  LSTATUS Remove() const {
    if (folder_.empty()) {
      return ERROR_FILE_NOT_FOUND;
    }
    return unlink(Path().c_str()) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
  }

 private:
  std::string Path() const { return folder_ + "/" + CurrentProgramNames().autostartFileName; }

  std::string folder_;
};

// The open Run key behind `key` if it allows `right`; else the error to answer.
LSTATUS CheckKey(HKEY key, REGSAM right) {
  std::shared_ptr<RunKeyHandle> runKey = LookUpHandle<RunKeyHandle>(key);
  if (!runKey) {
    return ERROR_INVALID_HANDLE;
  }
  return runKey->Allows(right) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace
}  // namespace platform

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM desired, PHKEY result) {
  if (result == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  *result = nullptr;
  if (key != HKEY_CURRENT_USER ||
      !platform::EqualsIgnoringAsciiCase(subKey, platform::kRunKeyPath)) {
    return ERROR_FILE_NOT_FOUND;
  }
  *result = static_cast<HKEY>(
      platform::RegisterHandle(std::make_shared<platform::RunKeyHandle>(desired)));
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  if (LSTATUS checked = platform::CheckKey(key, KEY_QUERY_VALUE); checked != ERROR_SUCCESS) {
    return checked;
  }
  if (reserved != nullptr || (data != nullptr && size == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  if (!platform::IsAutostartValue(valueName)) {
    return ERROR_FILE_NOT_FOUND;
  }
  std::string stored;
  if (LSTATUS read = platform::AutostartEntry().Read(stored); read != ERROR_SUCCESS) {
    return read;
  }
  if (type != nullptr) {
    *type = REG_SZ;
  }
  if (size == nullptr) {
    return ERROR_SUCCESS;
  }
  const bool fits = data == nullptr || *size >= stored.size();
  if (data != nullptr && fits) {
    std::memcpy(data, stored.data(), stored.size());
  }
  *size = static_cast<DWORD>(stored.size());
  return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD size) {
  if (LSTATUS checked = platform::CheckKey(key, KEY_SET_VALUE); checked != ERROR_SUCCESS) {
    return checked;
  }
  if (!platform::IsAutostartValue(valueName)) {
    return ERROR_ACCESS_DENIED;
  }
  if (type != REG_SZ || (data == nullptr && size != 0) || size > platform::kMaxDataSize) {
    return ERROR_INVALID_PARAMETER;
  }
  std::string bytes = data != nullptr ? std::string(reinterpret_cast<const char*>(data), size) : "";
  std::string command = bytes.substr(0, bytes.find('\0'));
  if (!platform::IsStartableCommand(command)) {
    return ERROR_INVALID_PARAMETER;
  }
  return platform::AutostartEntry().Write(bytes);
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  if (LSTATUS checked = platform::CheckKey(key, KEY_SET_VALUE); checked != ERROR_SUCCESS) {
    return checked;
  }
  if (!platform::IsAutostartValue(valueName)) {
    return ERROR_FILE_NOT_FOUND;
  }
  return platform::AutostartEntry().Remove();
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER) {
    return ERROR_SUCCESS;  // a predefined key is never really open
  }
  if (!platform::LookUpHandle<platform::RunKeyHandle>(key) || !CloseHandle(key)) {
    return ERROR_INVALID_HANDLE;
  }
  return ERROR_SUCCESS;
}
