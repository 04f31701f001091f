// The tray program's surroundings: its temporary directory, the directory of its settings, and
// its About page.
#include "platform/program_environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/scoped_environment.h"
#include "tests/support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;

// What is at `path`, not following a link: "directory 0700", "file", "link" or "nothing".
std::string Entry(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    return "nothing";
  }
  if (!S_ISDIR(status.st_mode)) {
    return S_ISLNK(status.st_mode) ? "link" : "file";
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", status.st_mode & 07777);
  return "directory " + std::string(mode);
}

std::optional<std::string> Temp() {
  const char* temp = std::getenv("TEMP");
  return temp != nullptr ? std::optional<std::string>(temp) : std::nullopt;
}

// Runs EnsureTempDirectory; then where TEMP points, "unset", or "refused" when it failed.
std::string EnsuredTemp() {
  return platform::EnsureTempDirectory() ? Temp().value_or("unset") : "refused";
}

// Every variable the functions read points into a scratch directory, or is unset; all are put
// back afterwards, and so is the current directory.
class ProgramEnvironmentTest : public testing::Test {
 protected:
  void SetUp() override {
    previousDirectory_ = fs::current_path();
    MakeDirectory("run", fs::perms::owner_all);
  }
  void TearDown() override { fs::current_path(previousDirectory_); }

  std::string Path(const std::string& name) const { return scratch_.file(name); }

  void MakeDirectory(const std::string& name, fs::perms mode) const {
    fs::create_directories(Path(name));
    fs::permissions(Path(name), mode);
  }

  ScratchDirectory scratch_;
  fs::path previousDirectory_;
  ScopedVariable temp_{"TEMP", std::nullopt};
  ScopedVariable runtime_{"XDG_RUNTIME_DIR", std::nullopt};
  ScopedVariable cache_{"XDG_CACHE_HOME", scratch_.file("cache")};
  ScopedVariable config_{"XDG_CONFIG_HOME", scratch_.file("config")};
  ScopedVariable home_{"HOME", scratch_.file("home")};
};

TEST_F(ProgramEnvironmentTest, ATempThatIsSetIsLeftAlone) {
  ScopedVariable::Set("TEMP", Path("mine"));
  ScopedVariable::Set("XDG_RUNTIME_DIR", Path("run"));
  EXPECT_EQ(EnsuredTemp(), Path("mine"));
  EXPECT_FALSE(fs::exists(Path("mine")));
  EXPECT_FALSE(fs::exists(Path("run/zarnik-viewer")));
}

TEST_F(ProgramEnvironmentTest, WithoutTempAPrivateFolderInTheRuntimeDirectory) {
  ScopedVariable::Set("XDG_RUNTIME_DIR", Path("run"));
  EXPECT_EQ(EnsuredTemp(), Path("run/zarnik-viewer"));
  EXPECT_EQ(Entry(Path("run/zarnik-viewer")), "directory 0700");

  // An empty TEMP counts as none.
  ScopedVariable::Set("TEMP", std::string());
  EXPECT_EQ(EnsuredTemp(), Path("run/zarnik-viewer"));
}

TEST_F(ProgramEnvironmentTest, WithoutARuntimeDirectoryTheCacheDirectory) {
  // Missing folders are made private too.
  EXPECT_EQ(EnsuredTemp(), Path("cache/zarnik-viewer"));
  EXPECT_EQ(Entry(Path("cache")), "directory 0700");
  EXPECT_EQ(Entry(Path("cache/zarnik-viewer")), "directory 0700");

  // Paths that are not absolute are not followed, by the XDG rules.
  ScopedVariable::Set("TEMP", std::nullopt);
  ScopedVariable::Set("XDG_RUNTIME_DIR", "run");
  ScopedVariable::Set("XDG_CACHE_HOME", "cache");
  fs::create_directory(Path("home"));
  EXPECT_EQ(EnsuredTemp(), Path("home/.cache/zarnik-viewer"));

  // A home that does not exist yet is made as well, so updates still have somewhere to go.
  ScopedVariable::Set("TEMP", std::nullopt);
  ScopedVariable::Set("XDG_CACHE_HOME", Path("new/deep/cache"));
  EXPECT_EQ(EnsuredTemp(), Path("new/deep/cache/zarnik-viewer"));
  EXPECT_EQ(Entry(Path("new/deep/cache/zarnik-viewer")), "directory 0700");
}

TEST_F(ProgramEnvironmentTest, AnExistingFolderOpenToOthersIsMadePrivate) {
  MakeDirectory("run/zarnik-viewer", fs::perms::all);
  std::ofstream(Path("run/zarnik-viewer/all.xml")) << "kept";
  ScopedVariable::Set("XDG_RUNTIME_DIR", Path("run"));
  EXPECT_EQ(EnsuredTemp(), Path("run/zarnik-viewer"));
  EXPECT_EQ(Entry(Path("run/zarnik-viewer")), "directory 0700");
  EXPECT_EQ(FileText(Path("run/zarnik-viewer/all.xml")), "kept");
}

// Someone else's link or file where the folder should be is never used, nor is a link followed
// to change the mode of what it points at.
TEST_F(ProgramEnvironmentTest, ALinkOrAFileInTheWayIsRefused) {
  MakeDirectory("elsewhere", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  fs::create_directory_symlink(Path("elsewhere"), Path("run/zarnik-viewer"));
  ScopedVariable::Set("XDG_RUNTIME_DIR", Path("run"));
  MakeDirectory("cache", fs::perms::owner_all);
  std::ofstream(Path("cache/zarnik-viewer")) << "a file";

  EXPECT_FALSE(platform::EnsureTempDirectory());
  EXPECT_EQ(Temp(), std::nullopt);
  EXPECT_EQ(Entry(Path("run/zarnik-viewer")), "link");
  EXPECT_EQ(Entry(Path("elsewhere")), "directory 0744");
  EXPECT_EQ(Entry(Path("cache/zarnik-viewer")), "file");

  // With the cache directory free, that is where it goes instead of through the link.
  fs::remove(Path("cache/zarnik-viewer"));
  EXPECT_EQ(EnsuredTemp(), Path("cache/zarnik-viewer"));
}

TEST_F(ProgramEnvironmentTest, AFolderOfAnotherUserIsRefused) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can give a folder to another user";
  }
  MakeDirectory("run/zarnik-viewer", fs::perms::all);
  ASSERT_EQ(chown(Path("run/zarnik-viewer").c_str(), 65534, 65534), 0);
  ScopedVariable::Set("XDG_RUNTIME_DIR", Path("run"));
  EXPECT_EQ(EnsuredTemp(), Path("cache/zarnik-viewer"));
  EXPECT_EQ(Entry(Path("run/zarnik-viewer")), "directory 0777");
}

TEST_F(ProgramEnvironmentTest, AWritableProgramDirectoryIsEntered) {
  MakeDirectory("program", fs::perms::owner_all);
  ASSERT_TRUE(platform::EnterSettingsDirectory(Path("program").c_str()));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), Path("program")));
  EXPECT_FALSE(fs::exists(Path("config")));
}

TEST_F(ProgramEnvironmentTest, AnInstalledProgramKeepsItsSettingsInTheConfigDirectory) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root may write to every directory";
  }
  MakeDirectory("program", fs::perms::owner_read | fs::perms::owner_exec);
  ASSERT_TRUE(platform::EnterSettingsDirectory(Path("program").c_str()));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), Path("config/zarnik-viewer")));
  EXPECT_EQ(Entry(Path("config/zarnik-viewer")), "directory 0700");
  fs::permissions(Path("program"), fs::perms::owner_all);
}

TEST_F(ProgramEnvironmentTest, AProgramDirectoryThatIsGoneFallsBackToo) {
  ASSERT_TRUE(platform::EnterSettingsDirectory(Path("gone").c_str()));
  EXPECT_TRUE(fs::equivalent(fs::current_path(), Path("config/zarnik-viewer")));

  // Neither can be had: the current directory stays as it was.
  fs::current_path(previousDirectory_);
  ScopedVariable::Set("XDG_CONFIG_HOME", Path("blocked"));
  MakeDirectory("blocked", fs::perms::owner_all);
  std::ofstream(Path("blocked/zarnik-viewer")) << "a file";
  EXPECT_FALSE(platform::EnterSettingsDirectory(Path("gone").c_str()));
  EXPECT_EQ(fs::current_path(), previousDirectory_);
}

TEST_F(ProgramEnvironmentTest, TheAboutPageBesideTheProgramElseInTheInstalledDocumentation) {
  const std::string program = Path("prefix/bin");
  const std::string beside = program + "/about.html";
  const std::string installed = program + "/../share/doc/zarnik-viewer/about.html";
  fs::create_directories(program);
  EXPECT_EQ(platform::AboutPagePath(program.c_str()), beside);  // neither: the usual place

  fs::create_directories(Path("prefix/share/doc/zarnik-viewer"));
  std::ofstream(installed) << "<html>";
  EXPECT_EQ(platform::AboutPagePath(program.c_str()), installed);

  std::ofstream(beside) << "<html>";
  EXPECT_EQ(platform::AboutPagePath(program.c_str()), beside);
}

}  // namespace
