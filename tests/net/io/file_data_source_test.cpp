#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <string>

#include "net/io/file_data_source.h"
#include "net/io/file_handle.h"
#include "tests/support/scratch_directory.h"

namespace {

// Each test works in a fresh directory of its own, removed with everything in it afterwards.
class FileDataSourceTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name = "file") const { return scratch.file(name); }

  void Put(const std::string& bytes, const std::string& name = "file") const {
    scratch.Write(name, bytes);
  }

  std::string Content(const std::string& name = "file") const { return scratch.Read(name); }

  // A source on `bytes`, open for reading: the first on "file", later ones on files of their
  // own, as the one before may still be open and Windows does not let an open file be rewritten.
  std::unique_ptr<FileDataSource> Reading(const std::string& bytes, int bufferSize = 4096) {
    const std::string name = readings++ == 0 ? "file" : "reading-" + std::to_string(readings);
    Put(bytes, name);
    auto source = std::make_unique<FileDataSource>(Path(name).c_str(), bufferSize);
    EXPECT_EQ(source->open(0), 0);
    return source;
  }

  ScratchDirectory scratch;
  int readings = 0;
};

// The next line as a string, or "<n>" when readLine answers n < 0.
std::string NextLine(DataSource& source, int size = 64) {
  std::string buffer(static_cast<std::size_t>(size), '#');
  const int count = source.readLine(buffer.data(), size);
  if (count < 0) {
    return "<" + std::to_string(count) + ">";
  }
  EXPECT_EQ(buffer[static_cast<std::size_t>(count)], '\0');
  return buffer.substr(0, static_cast<std::size_t>(count));
}

std::string ReadAll(DataSource& source) {
  std::string all;
  char chunk[64];
  for (int count; (count = source.read(chunk, sizeof chunk)) > 0;) {
    all.append(chunk, static_cast<std::size_t>(count));
  }
  return all;
}

TEST_F(FileDataSourceTest, OpenModes) {
  FileDataSource source(Path().c_str());
  EXPECT_EQ(source.open(0), -1);  // reading needs an existing file
  EXPECT_EQ(source.open(3), -1);
  EXPECT_EQ(source.open(-1), -1);
  EXPECT_FALSE(std::filesystem::exists(Path()));

  Put("old content");
  ASSERT_EQ(source.open(1), 0);
  EXPECT_EQ(Content(), "");
  EXPECT_EQ(source.write("new", 3), 3);
  EXPECT_EQ(source.seek(0, 0), 0);
  EXPECT_EQ(ReadAll(source), "new");

  ASSERT_EQ(source.open(2), 0);
  EXPECT_EQ(source.seek(0, 0), 0);
  EXPECT_EQ(source.write("+1", 2), 2);
  EXPECT_EQ(source.seek(1, 0), 1);
  EXPECT_EQ(source.writeLine("+2"), 2);
  EXPECT_EQ(Content(), "new+1+2\r\n");

  ASSERT_EQ(source.open(0), 0);
  EXPECT_EQ(source.write("x", 1), -1);  // read only
  EXPECT_EQ(source.write(nullptr, 0), -1);
  EXPECT_EQ(source.read(nullptr, 0), -1);
  source.close();
  EXPECT_EQ(Content(), "new+1+2\r\n");

  FileDataSource fresh(Path("created").c_str());
  EXPECT_EQ(fresh.open(2), 0);
  EXPECT_TRUE(std::filesystem::exists(Path("created")));
}

TEST_F(FileDataSourceTest, ReadLineSplitsAtCrLf) {
  auto source = Reading("a\r\nb");
  EXPECT_EQ(NextLine(*source), "a\r\n");
  EXPECT_EQ(NextLine(*source), "b");
  EXPECT_EQ(NextLine(*source), "");
  EXPECT_EQ(NextLine(*source), "");

  // A lone LF or CR is part of the line.
  source = Reading("x\ny\rz\r\n\r\nlast\r\n");
  EXPECT_EQ(NextLine(*source), "x\ny\rz\r\n");
  EXPECT_EQ(NextLine(*source), "\r\n");
  EXPECT_EQ(NextLine(*source), "last\r\n");
  EXPECT_EQ(NextLine(*source), "");
}

TEST_F(FileDataSourceTest, ReadLineRefillsASmallLineBuffer) {
  auto source = Reading("one\r\ntwo\r\nthree\r\n", 8);
  EXPECT_EQ(NextLine(*source), "one\r\n");
  EXPECT_EQ(NextLine(*source), "two\r\n");
  EXPECT_EQ(NextLine(*source), "three\r\n");
  EXPECT_EQ(NextLine(*source), "");

  // A line longer than the line buffer comes in pieces; nothing is lost.
  source = Reading("abcdefghij\r\nk", 5);
  std::string all;
  for (std::string piece; !(piece = NextLine(*source)).empty();) {
    EXPECT_LE(piece.size(), 4u);
    all += piece;
  }
  EXPECT_EQ(all, "abcdefghij\r\nk");
}

TEST_F(FileDataSourceTest, LongLinesComeInPiecesOfTheBufferSizeLessOne) {
  auto source = Reading("abcdefghij\r\nZ");
  EXPECT_EQ(NextLine(*source, 4), "abc");
  EXPECT_EQ(NextLine(*source, 4), "def");
  EXPECT_EQ(NextLine(*source, 4), "ghi");
  EXPECT_EQ(NextLine(*source, 4), "j\r\n");
  EXPECT_EQ(NextLine(*source, 4), "Z");
  EXPECT_EQ(NextLine(*source, 4), "");

  source = Reading("ab\r\n");
  EXPECT_EQ(NextLine(*source, 2), "a");
  EXPECT_EQ(NextLine(*source, 2), "b");
  EXPECT_EQ(NextLine(*source, 2), "\r");
  EXPECT_EQ(NextLine(*source, 2), "\n");
  EXPECT_EQ(NextLine(*source, 2), "");
  EXPECT_EQ(NextLine(*source, 1), "<-1>");  // room for nothing but the terminator
  EXPECT_EQ(NextLine(*source, 0), "<-1>");
  EXPECT_EQ(source->readLine(nullptr, 10), -1);
}

TEST_F(FileDataSourceTest, OutOfRangeBufferSizesAreClamped) {
  for (int bufferSize : {INT_MIN, -1, 0, 1, 2, INT_MAX}) {
    auto source = Reading("ab\r\ncd", bufferSize);
    std::string all;
    for (std::string piece; !(piece = NextLine(*source)).empty();) {
      all += piece;
    }
    EXPECT_EQ(all, "ab\r\ncd") << bufferSize;
  }
}

TEST_F(FileDataSourceTest, WriteLineEndsLinesOnce) {
  FileDataSource source(Path().c_str());
  ASSERT_EQ(source.open(1), 0);
  EXPECT_EQ(source.writeLine("plain"), 5);
  EXPECT_EQ(source.writeLine("ends in LF\n"), 11);
  EXPECT_EQ(source.writeLine("ends in CR\r"), 11);
  EXPECT_EQ(source.writeLine(""), 0);
  EXPECT_EQ(source.writeLine(nullptr), -1);
  source.close();
  EXPECT_EQ(Content(), "plain\r\nends in LF\nends in CR\r\r\n");
}

TEST_F(FileDataSourceTest, OtherOperationsCountFromTheFirstByteNotHandedOut) {
  auto source = Reading("ab\r\ncdefgh\r\n");
  ASSERT_EQ(NextLine(*source), "ab\r\n");
  EXPECT_EQ(source->seek(0, 1), 4);
  ASSERT_EQ(NextLine(*source), "cdefgh\r\n");
  EXPECT_EQ(source->seek(-8, 1), 4);
  ASSERT_EQ(NextLine(*source), "cdefgh\r\n");
  EXPECT_EQ(source->seek(-1, 2), 11);
  EXPECT_EQ(NextLine(*source), "\n");

  source->seek(0, 0);
  ASSERT_EQ(NextLine(*source), "ab\r\n");
  EXPECT_EQ(source->seek(1, 1), 5);
  EXPECT_EQ(NextLine(*source), "defgh\r\n");

  // read after readLine hands out the bytes read ahead instead of dropping them.
  source->seek(0, 0);
  ASSERT_EQ(NextLine(*source), "ab\r\n");
  EXPECT_EQ(ReadAll(*source), "cdefgh\r\n");

  // A write after readLine lands right after the line handed out.
  ASSERT_EQ(source->open(1), 0);
  ASSERT_EQ(source->write("12\r\n34\r\n", 8), 8);
  source->seek(0, 0);
  ASSERT_EQ(NextLine(*source), "12\r\n");
  EXPECT_EQ(source->write("XY", 2), 2);
  EXPECT_EQ(source->writeLine("Z"), 1);
  source->close();
  EXPECT_EQ(Content(), "12\r\nXYZ\r\n");
}

TEST_F(FileDataSourceTest, ReopeningForgetsTheLinesReadAhead) {
  auto source = Reading("first\r\nsecond\r\n");
  ASSERT_EQ(NextLine(*source), "first\r\n");
  ASSERT_EQ(source->open(0), 0);
  EXPECT_EQ(NextLine(*source), "first\r\n");
  ASSERT_EQ(NextLine(*source), "second\r\n");
  source->close();
  ASSERT_EQ(source->open(0), 0);
  EXPECT_EQ(NextLine(*source), "first\r\n");
}

TEST_F(FileDataSourceTest, FindsAcrossWindowBorders) {
  std::string data(4093, 'a');
  data += "NeedLE" + std::string(5000, 'b') + "tail";
  auto source = Reading(data);
  EXPECT_EQ(source->find("NeedLE", 0, true, 0), 4093);
  EXPECT_EQ(source->find("needle", 0, false, 0), 4093);
  EXPECT_EQ(source->find("needle", 0, true, 0), -1);
  EXPECT_EQ(source->find("tail", 0, true, 0), static_cast<int>(data.size()) - 4);
  EXPECT_EQ(source->find("tail", 9000, true, 0), static_cast<int>(data.size()) - 4);
  EXPECT_EQ(source->find("NeedLE", 4094, true, 0), -1);
  EXPECT_EQ(source->find("missing", 0, true, 0), -1);
  EXPECT_EQ(source->find("a", -1, true, 0), -1);
  EXPECT_EQ(source->find("a", static_cast<int>(data.size()) + 10, true, 0), -1);
}

TEST_F(FileDataSourceTest, FindHonoursTheLimit) {
  auto source = Reading(std::string(6000, '.') + "key");
  EXPECT_EQ(source->find("key", 0, true, 6000), 6000);
  EXPECT_EQ(source->find("key", 0, true, 5999), -1);
  EXPECT_EQ(source->find("key", 1, true, 5999), 6000);
  EXPECT_EQ(source->find("key", 5999, true, 2), -1);  // a limit shorter than the text
  EXPECT_EQ(source->find("key", 5999, true, 3), 6000);
}

TEST_F(FileDataSourceTest, FindTreatsNulAsData) {
  auto source = Reading(std::string("\0\0ab\0cd\0ab", 11));
  EXPECT_EQ(source->find("cd", 0, true, 0), 5);
  EXPECT_EQ(source->find("AB", 3, false, 0), 8);
}

TEST_F(FileDataSourceTest, FindTextSizes) {
  const std::string longest(DataSource::kMaxFindText, 'p');
  auto source = Reading("xyz" + longest + "xyz");
  EXPECT_EQ(source->find(longest.c_str(), 0, true, 0), 3);
  EXPECT_EQ(source->find((longest + "p").c_str(), 0, true, 0), -1);
  EXPECT_EQ(source->find("", 0, true, 0), -1);
  EXPECT_EQ(source->find(nullptr, 0, true, 0), -1);

  // A file no longer than the text.
  source = Reading("abc");
  EXPECT_EQ(source->find("abc", 0, true, 0), 0);
  EXPECT_EQ(source->find("abcd", 0, true, 0), -1);
  source = Reading("");
  EXPECT_EQ(source->find("a", 0, true, 0), -1);
}

TEST_F(FileDataSourceTest, PathsAroundBlanksAndTooLong) {
  Put("trimmed");
  FileDataSource blanks(("  " + Path() + " ").c_str());
  ASSERT_EQ(blanks.open(0), 0);
  EXPECT_EQ(ReadAll(blanks), "trimmed");

  const std::string tooLong = Path(std::string(300 - Path("").size(), 'n'));
  ASSERT_EQ(tooLong.size(), 300u);
  FileDataSource source(tooLong.c_str());
  EXPECT_EQ(source.open(1), -1);
  EXPECT_EQ(source.clone()->open(1), -1);
  FileDataSource none(nullptr);
  EXPECT_EQ(none.open(1), -1);
}

TEST_F(FileDataSourceTest, FileHandleRefusesABlankWrappedPathPastItsLimit) {
  const std::string base = Path("");
  const std::string longest = base + std::string(FileHandle::kMaxTrimmedPath - base.size(), 'f');
  FileHandle handle;
  EXPECT_EQ(handle.open((" " + longest + "f ").c_str(), GENERIC_WRITE, CREATE_ALWAYS, 0), -1);
  EXPECT_FALSE(std::filesystem::exists(longest + "f"));
  EXPECT_EQ(handle.write("x", 1), -1);
}

TEST_F(FileDataSourceTest, ClosedSourceFailsEverything) {
  Put("data\r\n");
  FileDataSource source(Path().c_str());
  for (int round = 0; round < 2; ++round) {
    char buffer[16] = "unchanged";
    EXPECT_EQ(source.readLine(buffer, sizeof buffer), -1);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(source.writeLine("x"), -1);
    EXPECT_EQ(source.writeLine(""), -1);
    EXPECT_EQ(source.read(buffer, sizeof buffer), -1);
    EXPECT_EQ(source.write("x", 1), -1);
    EXPECT_EQ(source.seek(0, 0), -1);
    EXPECT_EQ(source.find("data", 0, true, 0), -1);
    source.close();
    // After a close the source is as closed as before the first open.
    ASSERT_EQ(source.open(0), 0);
    ASSERT_EQ(NextLine(source), "data\r\n");
    source.close();
  }
  EXPECT_EQ(Content(), "data\r\n");
}

TEST_F(FileDataSourceTest, CloneTargetsTheSameFileUnopened) {
  auto source = Reading("shared\r\n", 16);
  std::unique_ptr<DataSource> copy = source->clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(NextLine(*copy), "<-1>");
  ASSERT_EQ(copy->open(0), 0);
  EXPECT_EQ(NextLine(*copy), "shared\r\n");
  EXPECT_EQ(NextLine(*source), "shared\r\n");
}

}  // namespace
