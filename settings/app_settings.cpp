#include "settings/app_settings.h"

#include <cstdio>
#include <memory>

#include "platform/file_system.h"
#include "platform/mutex_lock.h"

Settings AppSettings;
HANDLE UpdateMutex = nullptr;
const char kSettingsFileName[] = "settings.dat";

namespace {

// Names and passwords are read into a 256-byte buffer: 255 bytes and a terminator.
constexpr std::uint32_t kMaxNameBytes = 255;
constexpr unsigned char kPasswordShift = 10;
// A valid file holds at most 12 + 255 + 255 bytes, each perhaps written as two.
constexpr std::size_t kMaxFileBytes = 2 * (12 + 2 * kMaxNameBytes);

using FilePointer = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

void AppendLittleEndian(std::string& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes += static_cast<char>((value >> shift) & 0xFF);
  }
}

// Up to the first zero byte, as read back through a C string buffer.
std::string UpToZero(const std::string& bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

// Up to the first zero byte and at most 255 bytes, as the settings dialog hands them out.
std::string StoredName(const std::string& name) {
  return UpToZero(name).substr(0, kMaxNameBytes);
}

// Each byte moved by `shift`, modulo 256: how the password is stored.
std::string ShiftedBytes(std::string bytes, int shift) {
  for (char& byte : bytes) {
    byte = static_cast<char>(static_cast<unsigned char>(byte) + shift);
  }
  return bytes;
}

std::string ToWindowsLineEnds(const std::string& bytes) {
  std::string text;
  for (char byte : bytes) {
    if (byte == '\n') {
      text += '\r';
    }
    text += byte;
  }
  return text;
}

std::string FromWindowsLineEnds(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      bytes += text[i];
    }
  }
  return bytes;
}

// Reads the layout's fields in order; every read fails once the bytes run out.
class LayoutReader {
 public:
  explicit LayoutReader(const std::string& bytes) : bytes_(bytes) {}

  bool ReadInteger(std::uint32_t& value) {
    if (bytes_.size() - next_ < 4) {
      return false;
    }
    value = 0;
    for (int i = 3; i >= 0; --i) {
      value = (value << 8) | static_cast<unsigned char>(bytes_[next_ + i]);
    }
    next_ += 4;
    return true;
  }

  // A length field and that many bytes; lengths beyond 255 (negative ones included) fail.
  bool ReadName(std::string& name) {
    std::uint32_t length;
    if (!ReadInteger(length) || length > kMaxNameBytes || bytes_.size() - next_ < length) {
      return false;
    }
    name = bytes_.substr(next_, length);
    next_ += length;
    return true;
  }

 private:
  const std::string& bytes_;
  std::size_t next_ = 0;
};

}  // namespace

std::string EncodeSettingsFile(const Settings& settings) {
  const std::string userName = StoredName(settings.userName);
  const std::string password = ShiftedBytes(StoredName(settings.password), kPasswordShift);
  std::string bytes;
  AppendLittleEndian(bytes, static_cast<std::uint32_t>(userName.size()));
  bytes += userName;
  AppendLittleEndian(bytes, static_cast<std::uint32_t>(password.size()));
  bytes += password;
  AppendLittleEndian(bytes, static_cast<std::uint32_t>(settings.updateInterval));
  return ToWindowsLineEnds(bytes);
}

std::optional<Settings> DecodeSettingsFile(const std::string& text) {
  const std::string bytes = FromWindowsLineEnds(text);
  LayoutReader reader(bytes);
  Settings settings;
  std::string password;
  std::uint32_t interval;
  if (!reader.ReadName(settings.userName) || !reader.ReadName(password) ||
      !reader.ReadInteger(interval)) {
    return std::nullopt;
  }
  // Decoding goes by the stored length, so a stored zero byte (from 0xF6) is no terminator.
  settings.userName = UpToZero(settings.userName);
  settings.password = UpToZero(ShiftedBytes(password, -kPasswordShift));
  settings.updateInterval = static_cast<std::int32_t>(interval);
  return settings;
}

Settings CopySettings() {
  platform::MutexLock lock(UpdateMutex);
  return AppSettings;
}

void LoadSettings() {
  FilePointer file(std::fopen(kSettingsFileName, "rb"), std::fclose);
  if (!file) {
    return;
  }
  char buffer[kMaxFileBytes + 1];
  const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
  if (std::optional<Settings> loaded = DecodeSettingsFile(std::string(buffer, count))) {
    AppSettings = *loaded;
  }
}

void SaveSettings() {
  // A new file, readable by the user alone, takes the place of the old one once it is whole: a
  // crash meanwhile leaves the old settings, and nothing planted at either name is written
  // through.
  FilePointer file(nullptr, std::fclose);
  const std::string written =
      platform::CreateUnderNewName(kSettingsFileName, [&file](const std::string& name) {
        file.reset(platform::CreateNewPrivateFile(name));
        return file != nullptr;
      });
  if (written.empty()) {
    return;
  }
  const std::string bytes = EncodeSettingsFile(CopySettings());
  const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                     std::fflush(file.get()) == 0;
  if (std::fclose(file.release()) != 0 || !whole ||
      !platform::ReplaceFile(written, kSettingsFileName)) {
    platform::RemoveFile(written);
  }
}
