// "settings.dat" holds the password: private to the user, never written through a link, and
// replaced only by a whole file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "settings/app_settings.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/scratch_directory.h"

namespace {

TEST(SettingsPosixTest, SavingReplacesAPlantedLinkWithAWholePrivateFile) {
  ScratchDirectory dir;
  ScratchDirectory outside;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
  AppSettings = Settings{"abc", "secret", 600};
  outside.Write("target", "not yours");
  std::filesystem::create_symlink(outside.file("target"), dir.file(kSettingsFileName));
  {
    FileSizeLimit full(5);  // the disk fills up part way: what was there stays
    SaveSettings();
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file(kSettingsFileName)));
  const mode_t umask = ::umask(0);  // the mode must not come from the user's umask
  SaveSettings();
  ::umask(umask);
  struct stat status {};
  EXPECT_EQ(::lstat(dir.file(kSettingsFileName).c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(dir.Read(kSettingsFileName), EncodeSettingsFile(AppSettings));
  EXPECT_EQ(outside.Read("target"), "not yours");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  CloseHandle(UpdateMutex);
  UpdateMutex = nullptr;
  std::filesystem::current_path(previous);
}

}  // namespace
