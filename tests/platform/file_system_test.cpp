#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "platform/calendar_time.h"
#include "tests/support/scratch_directory.h"

namespace {

std::string ReadHandle(HANDLE file) {
  std::string bytes;
  char chunk[256];
  DWORD count = 0;
  while (ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0) {
    bytes.append(chunk, count);
  }
  return bytes;
}

TEST(FileSystemTest, NewFilesRefuseAnExistingNameAndKeepTheBytesWritten) {
  ScratchDirectory scratch;
  scratch.Write("taken", "old");
  EXPECT_EQ(platform::CreateNewFile(scratch.file("taken")), nullptr);
  EXPECT_EQ(scratch.Read("taken"), "old");

  // Line ends reach the disk as written, whatever the system's text conventions.
  std::FILE* file = platform::CreateNewFile(scratch.file("fresh"));
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("a\nb\r\n", file), 0);
  ASSERT_EQ(std::fclose(file), 0);
  EXPECT_EQ(scratch.Read("fresh"), "a\nb\r\n");

  EXPECT_TRUE(platform::RemoveFile(scratch.file("fresh")));
  EXPECT_FALSE(platform::RemoveFile(scratch.file("fresh")));
}

TEST(FileSystemTest, TextFilesGetTheSystemsLineEnds) {
  ScratchDirectory scratch;
  std::FILE* file = platform::CreateNewTextFile(scratch.file("text"));
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("a\nb\n", file), 0);
  ASSERT_EQ(std::fclose(file), 0);
  const std::string end = platform::kTextLineEnd;
  EXPECT_EQ(scratch.Read("text"), "a" + end + "b" + end);
  EXPECT_EQ(end, std::string(platform::kDirectorySeparator == '\\' ? "\r\n" : "\n"));
}

// A name someone planted in advance costs one try, not the file; the tries have an end.
TEST(FileSystemTest, NamesBesideAPathAreNewOnEveryTryAndTheTriesBounded) {
  std::set<std::string> names;
  EXPECT_EQ(platform::CreateUnderNewName("dir/file",
                                         [&names](const std::string& name) {
                                           EXPECT_EQ(name.rfind("dir/file.", 0), 0u) << name;
                                           names.insert(name);
                                           return false;
                                         }),
            "");
  EXPECT_EQ(names.size(), static_cast<std::size_t>(platform::kNewNameTries));
}

// A feed reader may be downloading the file just when an update puts the new one in its place:
// the replace succeeds (at once, or once the reader is done) and the reader gets the old file.
TEST(FileSystemTest, ReplacingAFileBeingReadSucceedsAndTheReaderKeepsTheOldOne) {
  ScratchDirectory scratch;
  scratch.Write("all.xml", "old feed");
  scratch.Write("all.xml.part", "new feed");
  std::string root;
  ASSERT_TRUE(platform::RealDirectoryPath(scratch.path().c_str(), root));

  HANDLE reader = platform::OpenFileInside(scratch.file("all.xml").c_str(), root);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::string read;
  std::thread download([&] {
    read = ReadHandle(reader);
    CloseHandle(reader);
  });
  EXPECT_TRUE(platform::ReplaceFile(scratch.file("all.xml.part"), scratch.file("all.xml")));
  download.join();
  EXPECT_EQ(read, "old feed");
  EXPECT_EQ(scratch.Read("all.xml"), "new feed");
  EXPECT_FALSE(std::filesystem::exists(scratch.file("all.xml.part")));
}

TEST(FileSystemTest, OnlyRegularFilesInsideTheRootOpen) {
  ScratchDirectory scratch;
  std::filesystem::create_directories(scratch.file("root/sub"));
  scratch.Write("secret", "outside");
  scratch.Write("root/sub/page.html", "inside");
  std::string root;
  ASSERT_TRUE(platform::RealDirectoryPath(scratch.file("root").c_str(), root));
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(root.back(), platform::kDirectorySeparator);
  std::string notADirectory;
  EXPECT_FALSE(platform::RealDirectoryPath(scratch.file("secret").c_str(), notADirectory));
  EXPECT_FALSE(platform::RealDirectoryPath(scratch.file("missing").c_str(), notADirectory));

  const std::string sub = scratch.file("root/sub");
  HANDLE page = platform::OpenFileInside((sub + "/page.html").c_str(), root);
  ASSERT_NE(page, INVALID_HANDLE_VALUE);
  std::time_t written = 0;
  EXPECT_TRUE(platform::GetLastWriteTime(page, written));
  // Written a moment ago: a day either way tells a wrong epoch or unit, not a slow machine.
  EXPECT_LT(std::fabs(std::difftime(written, std::time(nullptr))), 86400.0);
  CloseHandle(page);

  for (const std::string& refused :
       {sub + "/../../secret", sub, sub + "/missing.html", scratch.file("root")}) {
    EXPECT_EQ(platform::OpenFileInside(refused.c_str(), root), INVALID_HANDLE_VALUE) << refused;
  }
}

TEST(CalendarTimeTest, SplitsTheEpochAndALeapDayInUtc) {
  std::tm fields{};
  ASSERT_TRUE(platform::UtcCalendarTime(0, fields));
  EXPECT_EQ(fields.tm_year, 70);
  EXPECT_EQ(fields.tm_yday, 0);
  ASSERT_TRUE(platform::UtcCalendarTime(951782400, fields));  // 2000-02-29 00:00:00
  EXPECT_EQ(fields.tm_mon, 1);
  EXPECT_EQ(fields.tm_mday, 29);
  EXPECT_EQ(fields.tm_wday, 2);
  EXPECT_TRUE(platform::LocalCalendarTime(951782400, fields));
}

}  // namespace
