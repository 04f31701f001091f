// The program's own directory, where start-up looks for its settings.
#include "shell/module_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string Cut(std::string path) {
  CutToDirectory(&path[0]);
  return path.c_str();
}

TEST(CutToDirectoryTest, EndsThePathAtItsLastSeparatorOfEitherKind) {
  EXPECT_EQ(Cut("C:\\apps\\prog.exe"), "C:\\apps");
  EXPECT_EQ(Cut("C:\\prog.exe"), "C:");
  EXPECT_EQ(Cut("/usr/lib/zarnik-viewer/zarnik-viewer"), "/usr/lib/zarnik-viewer");
  EXPECT_EQ(Cut("C:\\apps/sub\\prog.exe"), "C:\\apps/sub");
  EXPECT_EQ(Cut("C:/apps\\sub/prog.exe"), "C:/apps\\sub");
  EXPECT_EQ(Cut("prog.exe"), "prog.exe");
  EXPECT_EQ(Cut(""), "");
}

class GetModuleDirectoryTest : public testing::Test {
 protected:
  // The test program's own path, as the system knows it.
  const std::string program_ = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string directory_ = program_.substr(0, program_.rfind('/'));
};

TEST_F(GetModuleDirectoryTest, GivesTheDirectoryOfTheRunningProgram) {
  char buffer[1024];
  ASSERT_EQ(GetModuleDirectory(buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), directory_);
}

// A path cut to fit would name another directory; and nothing is written past the buffer.
TEST_F(GetModuleDirectoryTest, APathThatDoesNotFitGivesNothing) {
  const int fits = static_cast<int>(program_.size()) + 1;
  for (int size : {fits - 1, fits / 2, 1}) {
    std::vector<char> buffer(static_cast<std::size_t>(size) + 16, '#');
    EXPECT_EQ(GetModuleDirectory(buffer.data(), size), 0) << size;
    EXPECT_STREQ(buffer.data(), "") << size;
    EXPECT_EQ(std::string(buffer.begin() + size, buffer.end()), std::string(16, '#')) << size;
  }
  std::vector<char> exact(static_cast<std::size_t>(fits));
  ASSERT_EQ(GetModuleDirectory(exact.data(), fits), 1);
  EXPECT_EQ(std::string(exact.data()), directory_);
}

}  // namespace
