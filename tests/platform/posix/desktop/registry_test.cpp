// The Run key's autostart value, kept as a desktop entry under a private XDG_CONFIG_HOME.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/program_names.h"
#include "platform/win32.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kValue[] = "Zarnik Viewer";

class RunKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetProgramNames({kValue, "zarnik-viewer.desktop"});  // as the program does
  }

  fs::path EntryPath() const { return root_ / "config" / "autostart" / "zarnik-viewer.desktop"; }

  // Opens the Run key with `rights`, hands it to `use` and closes it: what the opening or `use`
  // answered.
  template <typename Use>
  static LSTATUS WithRunKey(REGSAM rights, Use use) {
    HKEY key = nullptr;
    LSTATUS result = RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, rights, &key);
    if (result == ERROR_SUCCESS) {
      result = use(key);
      RegCloseKey(key);
    }
    return result;
  }

  static LSTATUS Set(const std::string& data) {
    return WithRunKey(KEY_SET_VALUE, [&](HKEY key) {
      return RegSetValueExA(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
    });
  }

  // The value's data, read with a 1024-byte buffer as the settings dialog does.
  static std::optional<std::string> Query() {
    char buffer[1024];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    const LSTATUS result = WithRunKey(KEY_QUERY_VALUE, [&](HKEY key) {
      return RegQueryValueExA(key, kValue, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
    });
    if (result != ERROR_SUCCESS || type != REG_SZ) {
      return std::nullopt;
    }
    return std::string(buffer, size);
  }

  static LSTATUS Delete() {
    return WithRunKey(KEY_SET_VALUE, [](HKEY key) { return RegDeleteValueA(key, kValue); });
  }

  std::string EntryText() const { return FileText(EntryPath().string()); }

  ScratchDirectory scratch_;
  const fs::path root_ = scratch_.path();
  ScopedVariable configHome_{"XDG_CONFIG_HOME", (root_ / "config").string()};
};

// The program's own value is its path in quotes with the terminating zero counted.
std::string QuotedPath(const std::string& path) {
  return "\"" + path + "\"" + std::string(1, '\0');
}

TEST_F(RunKeyTest, ValueReadsBackByteForByte) {
  for (const std::string& data :
       {QuotedPath("/opt/my apps/zarnik-viewer"), QuotedPath("/opt/50% off/\"odd\" name/zv"),
        QuotedPath("/opt/back\\slash/$HOME/zv"), std::string("\"/no/terminator\""),
        "/usr/bin/zv --flag\0after\nthe zero\0"s}) {
    ASSERT_EQ(Set(data), ERROR_SUCCESS) << data;
    EXPECT_EQ(Query(), data);
  }
}

TEST_F(RunKeyTest, EntryStartsTheQuotedProgram) {
  ASSERT_EQ(Set(QuotedPath("/opt/my apps/zarnik-viewer")), ERROR_SUCCESS);
  std::string text = EntryText();
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nName=Zarnik Viewer\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExec=\"/opt/my apps/zarnik-viewer\"\n"), std::string::npos) << text;

  // Inside quotes a quote is escaped, % doubled, and the string escaping doubles the backslash.
  ASSERT_EQ(Set(QuotedPath("/opt/50% \"x\"/zv")), ERROR_SUCCESS);
  EXPECT_NE(EntryText().find("\nExec=\"/opt/50%% \\\\\"x\\\\\"/zv\"\n"), std::string::npos)
      << EntryText();

  // A plain path needs no quotes; arguments after a quoted program are split as Windows does.
  ASSERT_EQ(Set(std::string("\"/usr/bin/zv\" --now 100%") + '\0'), ERROR_SUCCESS);
  EXPECT_NE(EntryText().find("\nExec=/usr/bin/zv --now 100%%\n"), std::string::npos) << EntryText();
}

TEST_F(RunKeyTest, ReplacedAndDeleted) {
  ASSERT_EQ(Set(QuotedPath("/old/zv")), ERROR_SUCCESS);
  ASSERT_EQ(Set(QuotedPath("/new/zv")), ERROR_SUCCESS);
  EXPECT_EQ(Query(), QuotedPath("/new/zv"));
  EXPECT_EQ(EntryText().find("/old/"), std::string::npos);
  // Written through a temporary file and a rename: nothing else is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(EntryPath().parent_path()), {}), 1);

  EXPECT_EQ(Delete(), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(EntryPath()));
  EXPECT_EQ(Query(), std::nullopt);
  EXPECT_EQ(Delete(), ERROR_FILE_NOT_FOUND);
}

TEST_F(RunKeyTest, MissingFoldersAreCreatedPrivate) {
  ScopedVariable nested("XDG_CONFIG_HOME", (root_ / "a" / "b").string());
  ASSERT_EQ(Set(QuotedPath("/zv")), ERROR_SUCCESS);
  struct stat info {};
  ASSERT_EQ(stat((root_ / "a" / "b" / "autostart").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(fs::exists(root_ / "a" / "b" / "autostart" / "zarnik-viewer.desktop"));
}

TEST_F(RunKeyTest, WithoutConfigHomeTheEntryGoesUnderHome) {
  ScopedVariable home("HOME", root_.string());
  ScopedVariable relative("XDG_CONFIG_HOME", "relative/config");  // not absolute: ignored
  ASSERT_EQ(Set(QuotedPath("/zv")), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(root_ / ".config" / "autostart" / "zarnik-viewer.desktop"));
  EXPECT_EQ(Query(), QuotedPath("/zv"));
}

TEST_F(RunKeyTest, QueryTellsTheSizeAndRefusesSmallBuffers) {
  const std::string data = QuotedPath("/opt/zv");  // 10 bytes with the zero
  ASSERT_EQ(Set(data), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);

  DWORD size = 0;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, kValue, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, data.size());
  EXPECT_EQ(type, REG_SZ);

  char buffer[16] = "untouched";
  size = 9;
  EXPECT_EQ(
      RegQueryValueExA(key, kValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, data.size());
  EXPECT_STREQ(buffer, "untouched");

  size = static_cast<DWORD>(data.size());
  EXPECT_EQ(
      RegQueryValueExA(key, kValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, size), data);

  EXPECT_EQ(
      RegQueryValueExA(key, kValue, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), nullptr),
      ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RunKeyTest, DataThatWouldBreakTheEntryIsRefusedAndTheOldEntryKept) {
  ASSERT_EQ(Set(QuotedPath("/good/zv")), ERROR_SUCCESS);
  for (const std::string& bad :
       {QuotedPath("/evil\n[Desktop Entry]\nExec=/bin/rm/zv"), QuotedPath("/tab\there"),
        QuotedPath("/latin1-\xE9/zv"), QuotedPath(""), "   "s, "\0"s, ""s}) {
    EXPECT_EQ(Set(bad), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(Query(), QuotedPath("/good/zv"));
}

TEST_F(RunKeyTest, OnlyTheRunKeyAndTheProgramsValueExist) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, KEY_QUERY_VALUE, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);

  // Key and value names compare without regard to case, as on Windows.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\run", 0,
                          KEY_SET_VALUE, &key),
            ERROR_SUCCESS);
  const BYTE data[] = "\"/zv\"";
  EXPECT_EQ(RegSetValueExA(key, "zarnik viewer", 0, REG_SZ, data, sizeof data), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "Other Program", 0, REG_SZ, data, sizeof data),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(key, "Other Program"), ERROR_FILE_NOT_FOUND);
  // Reading needs the right to read.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, kValue, nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, kValue, 0, REG_SZ, data, sizeof data), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(key, kValue), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  EXPECT_EQ(Query(), std::string(reinterpret_cast<const char*>(data), sizeof data));
}

TEST_F(RunKeyTest, AnEntryWrittenByHandReadsAsNoValueButIsDeleted) {
  fs::create_directories(EntryPath().parent_path());
  std::ofstream(EntryPath()) << "[Desktop Entry]\nType=Application\nExec=/usr/bin/zv\n";
  EXPECT_EQ(Query(), std::nullopt);
  EXPECT_EQ(Delete(), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(EntryPath()));
}

}  // namespace
