#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "tests/support/scratch_directory.h"

namespace {

// Each test works in a fresh directory of its own, removed with everything in it afterwards.
class FilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch.file(name); }

  void Put(const std::string& name, const std::string& bytes) const { scratch.Write(name, bytes); }

  std::string Content(const std::string& name) const { return scratch.Read(name); }

  HANDLE Open(const std::string& name, DWORD access, DWORD disposition) const {
    return CreateFileA(Path(name).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  ScratchDirectory scratch;
};

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

TEST_F(FilesTest, DispositionsCreateKeepOrTruncate) {
  Put("old", "content");

  HANDLE created = Open("new", GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(created));
  EXPECT_TRUE(std::filesystem::exists(Path("new")));

  EXPECT_EQ(Open("old", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(Open("missing", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("missing", kReadWrite, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(Path("missing")));

  EXPECT_TRUE(CloseHandle(Open("old", kReadWrite, OPEN_ALWAYS)));
  EXPECT_EQ(Content("old"), "content");
  EXPECT_TRUE(CloseHandle(Open("fresh", kReadWrite, OPEN_ALWAYS)));
  EXPECT_TRUE(std::filesystem::exists(Path("fresh")));

  EXPECT_TRUE(CloseHandle(Open("old", GENERIC_WRITE, CREATE_ALWAYS)));
  EXPECT_EQ(Content("old"), "");
  Put("old", "content");
  EXPECT_TRUE(CloseHandle(Open("old", GENERIC_WRITE, TRUNCATE_EXISTING)));
  EXPECT_EQ(Content("old"), "");
}

TEST_F(FilesTest, RefusesBadArgumentsWithoutTouchingTheFile) {
  Put("file", "content");
  EXPECT_EQ(Open("file", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // Truncating needs write access.
  EXPECT_EQ(Open("file", GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Content("file"), "content");
}

TEST_F(FilesTest, DirectoryCannotBeOpened) {
  std::filesystem::create_directory(Path("sub"));
  for (DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}, kReadWrite}) {
    for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS}) {
      EXPECT_EQ(Open("sub", access, disposition), INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
  }
}

TEST_F(FilesTest, ReadsWhatWasWrittenAndReportsTheEndAndTheSize) {
  HANDLE file = Open("file", kReadWrite, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD count = 99;
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 0u);
  EXPECT_EQ(high, 0u);
  ASSERT_TRUE(WriteFile(file, "hello", 5, &count, nullptr));
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);

  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 0u);  // the end: success with nothing read
  ASSERT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "hello");
  EXPECT_TRUE(CloseHandle(file));

  HANDLE readOnly = Open("file", GENERIC_READ, OPEN_EXISTING);
  count = 99;
  EXPECT_FALSE(WriteFile(readOnly, "x", 1, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(CloseHandle(readOnly));
  EXPECT_EQ(Content("file"), "hello");
}

TEST_F(FilesTest, SetFilePointerMovesFromEachOrigin) {
  Put("file", "0123456789");
  HANDLE file = Open("file", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
  EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_CURRENT), 7u);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_END), 9u);
  EXPECT_EQ(SetFilePointer(file, 5, nullptr, FILE_END), 15u);  // past the end is allowed

  EXPECT_EQ(SetFilePointer(file, -16, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 15u);  // failures did not move it
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(FilesTest, SetFilePointerTakesAndGivesTheHighPart) {
  Put("file", "0123456789");
  HANDLE file = Open("file", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = -1;  // with the low part: -3 as a 64-bit distance
  EXPECT_EQ(SetFilePointer(file, -3, &high, FILE_END), 7u);
  EXPECT_EQ(high, 0);

  high = 1;
  EXPECT_EQ(SetFilePointer(file, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  high = 0;
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), 5u);
  EXPECT_EQ(high, 1);
  EXPECT_TRUE(CloseHandle(file));
}

TEST_F(FilesTest, ClosedAndInvalidHandlesFail) {
  HANDLE file = Open("file", kReadWrite, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  for (HANDLE bad : {file, INVALID_HANDLE_VALUE}) {
    char buffer[4];
    DWORD count = 99;
    EXPECT_FALSE(ReadFile(bad, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(bad, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetFilePointer(bad, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

}  // namespace
