// Opening addresses through xdg-open, the program's module and entry.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

class ShellExecuteTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("ZV_WATCHED_FD"); }

  // A fake xdg-open that records how many arguments it got, its process id, where its standard
  // input leads, whether the descriptor named in ZV_WATCHED_FD reached it, and its first argument.
  void InstallFakeOpener() {
    fs::path script = folder_ / "xdg-open";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "out='" << (folder_ / "record").string() << "'\n"
                          << "{ echo \"$#\"; echo \"$$\"; /bin/readlink /proc/$$/fd/0\n"
                          << "  if [ -n \"$ZV_WATCHED_FD\" ] && [ -e /proc/$$/fd/$ZV_WATCHED_FD ];"
                          << " then echo inherited; else echo closed; fi\n"
                          << "  printf '%s' \"$1\"; } > \"$out.tmp\"\n"
                          << "/bin/mv \"$out.tmp\" \"$out\"\n";
    fs::permissions(script, fs::perms::owner_all);
  }

  // The record, once the fake opener has written it (at most 10 s).
  std::optional<std::string> WaitForRecord() const {
    auto deadline = steady_clock::now() + std::chrono::seconds(10);
    while (steady_clock::now() < deadline) {
      std::ifstream file(folder_ / "record", std::ios::binary);
      if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
      }
      std::this_thread::sleep_for(milliseconds(5));
    }
    return std::nullopt;
  }

  static std::intptr_t Open(LPCSTR address, LPCSTR verb = "open", LPCSTR parameters = nullptr) {
    return reinterpret_cast<std::intptr_t>(
        ShellExecuteA(nullptr, verb, address, parameters, nullptr, SW_SHOWNORMAL));
  }

  ScratchDirectory scratch_;
  const fs::path folder_ = scratch_.path();
  ScopedVariable path_{"PATH", folder_.string()};  // only the fake opener is found
};

// True once process `pid` is gone from the process table, neither running nor a zombie (at most
// 10 s).
bool ProcessVanishes(const std::string& pid) {
  auto deadline = steady_clock::now() + std::chrono::seconds(10);
  while (steady_clock::now() < deadline) {
    if (!fs::exists("/proc/" + pid)) {
      return true;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  return false;
}

TEST_F(ShellExecuteTest, AddressReachesXdgOpenAsOneArgumentAndNothingLingers) {
  InstallFakeOpener();
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);  // without close-on-exec, like a careless socket
  setenv("ZV_WATCHED_FD", std::to_string(pipeEnds[0]).c_str(), 1);

  const std::string address = "http://example.com/a b;c'd\"e&f$(touch x)|g";
  EXPECT_GT(Open(address.c_str()), 32);
  std::optional<std::string> record = WaitForRecord();
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  ASSERT_TRUE(record) << "xdg-open did not run";

  std::istringstream lines(*record);
  std::string count, pid, input, watched;
  std::getline(lines, count);
  std::getline(lines, pid);
  std::getline(lines, input);
  std::getline(lines, watched);
  std::string argument((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
  EXPECT_EQ(count, "1");
  EXPECT_EQ(argument, address);
  EXPECT_EQ(input, "/dev/null");
  EXPECT_EQ(watched, "closed");
  EXPECT_FALSE(fs::exists(folder_ / "x"));
  EXPECT_TRUE(ProcessVanishes(pid)) << "xdg-open stays a zombie";
}

TEST_F(ShellExecuteTest, NothingStartsWithoutAnOpenerOrForWhatItCannotOpen) {
  EXPECT_LE(Open("http://example.com/"), 32);  // the folder on PATH is empty

  fs::path notExecutable = folder_ / "xdg-open";
  std::ofstream(notExecutable) << "#!/bin/sh\ntouch '" << (folder_ / "ran").string() << "'\n";
  fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_LE(Open("http://example.com/"), 32);

  InstallFakeOpener();
  EXPECT_LE(Open("--help"), 32);  // would be read as an option of xdg-open
  EXPECT_LE(Open(""), 32);
  EXPECT_LE(Open("http://example.com/", "print"), 32);
  EXPECT_LE(Open("http://example.com/", "open", "--extra"), 32);

  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child was started
  EXPECT_EQ(errno, ECHILD);
  EXPECT_FALSE(fs::exists(folder_ / "record"));
  EXPECT_FALSE(fs::exists(folder_ / "ran"));
}

TEST(ModuleTest, FileNameIsTheRunningProgramCutLikeWindows) {
  fs::path expected = fs::read_symlink("/proc/self/exe");
  HMODULE module = GetModuleHandleA(nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);

  char full[1024];
  DWORD length = GetModuleFileNameA(module, full, sizeof full);
  EXPECT_EQ(std::string(full), expected.string());
  EXPECT_EQ(length, expected.string().size());
  EXPECT_EQ(GetModuleFileNameA(nullptr, full, sizeof full), length);

  char small[6];
  std::fill(std::begin(small), std::end(small), 'x');
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), expected.string().substr(0, 5));
}

// The program entry as RunWinMain calls it.
struct EntryCall {
  HINSTANCE instance = nullptr;
  HINSTANCE previous = reinterpret_cast<HINSTANCE>(1);
  std::string commandLine;
  int showCommand = -1;
} entryCall;

TEST(ModuleTest, RunWinMainPassesTheProgramAndItsArguments) {
  char program[] = "zarnik-viewer";
  char first[] = "one";
  char second[] = "two words";
  char* argv[] = {program, first, second, nullptr};
  EXPECT_EQ(platform::RunWinMain(3, argv), 7);
  EXPECT_EQ(entryCall.instance, GetModuleHandleA(nullptr));
  EXPECT_EQ(entryCall.previous, nullptr);
  EXPECT_EQ(entryCall.commandLine, "one two words");
  EXPECT_EQ(entryCall.showCommand, SW_SHOWDEFAULT);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  entryCall = {instance, previous, commandLine, showCommand};
  return 7;
}
