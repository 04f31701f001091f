// "settings.dat" holds the password: written private to the user, and never through a link.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/app_settings.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/scratch_directory.h"

namespace {

class SettingsPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
    AppSettings = Settings();
    AppSettings.userName = "abc";
    AppSettings.password = "secret";
  }
  void TearDown() override {
    CloseHandle(UpdateMutex);
    UpdateMutex = nullptr;
    std::filesystem::current_path(previous_);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::filesystem::path previous_;
  ScratchDirectory dir_;
};

TEST_F(SettingsPosixTest, TheSavedFileIsTheOwnersAloneAndReplacesAPlantedLink) {
  const mode_t umask = ::umask(0);  // the file's mode must not rely on the user's umask
  ScratchDirectory outside;
  outside.Write("target", "not yours");
  std::filesystem::create_symlink(outside.file("target"), dir_.file(kSettingsFileName));
  SaveSettings();
  ::umask(umask);
  EXPECT_EQ(outside.Read("target"), "not yours");
  struct stat status {};
  ASSERT_EQ(::lstat(kSettingsFileName, &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(dir_.Read(kSettingsFileName), EncodeSettingsFile(AppSettings));
  EXPECT_EQ(Names(), std::vector<std::string>{kSettingsFileName});
}

// The disk fills up part way, imitated with a file size limit: the old file stays whole.
TEST_F(SettingsPosixTest, AWriteThatFailsKeepsTheOldFileAndLeavesNoOther) {
  dir_.Write(kSettingsFileName, "old settings");
  {
    FileSizeLimit limit(5);
    SaveSettings();
  }
  EXPECT_EQ(dir_.Read(kSettingsFileName), "old settings");
  EXPECT_EQ(Names(), std::vector<std::string>{kSettingsFileName});
}

}  // namespace
