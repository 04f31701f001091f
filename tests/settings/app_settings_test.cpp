#include "settings/app_settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values)
    bytes += static_cast<char>(value);
  return bytes;
}

Settings Make(std::string userName, std::string password, std::int32_t interval = 600) {
  Settings settings;
  settings.userName = std::move(userName);
  settings.password = std::move(password);
  settings.updateInterval = interval;
  return settings;
}

void ExpectSame(const Settings& a, const Settings& b) {
  EXPECT_EQ(a.userName, b.userName);
  EXPECT_EQ(a.password, b.password);
  EXPECT_EQ(a.updateInterval, b.updateInterval);
}

TEST(SettingsFileTest, LaysOutLengthsNamesShiftedPasswordAndInterval) {
  EXPECT_EQ(EncodeSettingsFile(Make("abc", "")),
            Bytes({3, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0, 0, 0x58, 2, 0, 0}));
  EXPECT_EQ(EncodeSettingsFile(Make("", "abc", 0)),
            Bytes({0, 0, 0, 0, 3, 0, 0, 0, 0x6B, 0x6C, 0x6D, 0, 0, 0, 0}));
  // 0xF6 + 10 wraps to 0; decoding goes by the stored length, not up to that zero.
  const std::string wrapped = EncodeSettingsFile(Make("u", "\xF6\xFF"));
  EXPECT_EQ(wrapped.substr(9, 2), Bytes({0x00, 0x09}));
  EXPECT_EQ(DecodeSettingsFile(wrapped)->password, "\xF6\xFF");
  EXPECT_EQ(EncodeSettingsFile(Make("", "", -1)).substr(8), Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

// Every LF byte of the layout is stored as CR LF, as a Windows text file holds it, so files from
// either platform read the same and a stored CR LF can never be mistaken for one.
TEST(SettingsFileTest, StoresLineFeedsAsWindowsDoes) {
  const Settings tenLetters = Make("abcdefghij", "\x03", 2573);  // L1 = 0x0A, interval 0x0A0D
  const std::string bytes = EncodeSettingsFile(tenLetters);
  EXPECT_EQ(bytes.substr(0, 5), Bytes({0x0D, 0x0A, 0, 0, 0}));
  EXPECT_EQ(bytes.substr(bytes.size() - 5), Bytes({0x0D, 0x0D, 0x0A, 0, 0}));
  ExpectSame(*DecodeSettingsFile(bytes), tenLetters);
  // A file written by the Windows program: the same bytes.
  ExpectSame(*DecodeSettingsFile(Bytes({0x0D, 0x0A, 0,   0, 0, 'a', 'b', 'c',  'd', 'e', 'f', 'g',
                                        'h',  'i',  'j', 0, 0, 0,   0,   0x58, 2,   0,   0})),
             Make("abcdefghij", ""));
}

TEST(SettingsFileTest, RoundTripsAnyNamesAndPasswordsUpTo255Bytes) {
  std::mt19937 random(1303);
  for (int round = 0; round < 500; ++round) {
    Settings settings;
    for (std::string* field : {&settings.userName, &settings.password}) {
      field->resize(random() % 256);
      for (char& byte : *field) {
        // Plenty of CR and LF bytes, never a zero.
        byte = static_cast<char>(random() % 4 == 0 ? "\r\n"[random() % 2] : 1 + random() % 255);
      }
    }
    settings.updateInterval = static_cast<std::int32_t>(random());
    std::optional<Settings> loaded = DecodeSettingsFile(EncodeSettingsFile(settings));
    ASSERT_TRUE(loaded) << round;
    ExpectSame(*loaded, settings);
  }
}

TEST(SettingsFileTest, NamesAreCutAtZeroBytesAnd255Bytes) {
  ExpectSame(*DecodeSettingsFile(EncodeSettingsFile(Make(std::string(300, 'n'), "p\0q"))),
             Make(std::string(255, 'n'), "p"));
  // A stored name with a zero byte reads up to it.
  ExpectSame(*DecodeSettingsFile(Bytes({3, 0, 0, 0, 'a', 0, 'c', 0, 0, 0, 0, 1, 0, 0, 0})),
             Make("a", "", 1));
}

TEST(SettingsFileTest, DamagedFilesAreRejectedWhole) {
  const std::string good = EncodeSettingsFile(Make("someone", "secret", 42));
  for (std::size_t length = 0; length < good.size(); ++length) {
    EXPECT_FALSE(DecodeSettingsFile(good.substr(0, length))) << "cut to " << length;
  }
  EXPECT_TRUE(DecodeSettingsFile(good + "trailing bytes are ignored"));
  for (std::uint32_t length : {256u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    std::string huge = Bytes({0, 0, 0, 0});
    for (int i = 0; i < 4; ++i)
      huge[i] = static_cast<char>(length >> (8 * i));
    huge += std::string(300, 'x');
    EXPECT_FALSE(DecodeSettingsFile(huge)) << "user name length " << length;
    EXPECT_FALSE(DecodeSettingsFile(Bytes({1, 0, 0, 0, 'u'}) + huge)) << "password " << length;
  }
}

// LoadSettings and SaveSettings work on "settings.dat" in the current directory.
class SettingsStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
    AppSettings = Settings();
    UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
  }
  void TearDown() override {
    CloseHandle(UpdateMutex);
    UpdateMutex = nullptr;
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }

  static std::string FileBytes() {
    std::ifstream in(kSettingsFileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path previous_;
  std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                               ("zv-settings-" + std::to_string(std::random_device()()));
};

TEST_F(SettingsStoreTest, MissingFileKeepsDefaultsAndSavingCreatesIt) {
  LoadSettings();
  ExpectSame(AppSettings, Make("", "", 600));
  AppSettings = Make("abc", "pw", 900);
  SaveSettings();
  EXPECT_EQ(FileBytes(), EncodeSettingsFile(AppSettings));
  AppSettings = Settings();
  LoadSettings();
  ExpectSame(AppSettings, Make("abc", "pw", 900));
}

TEST_F(SettingsStoreTest, DamagedFileLeavesSettingsAndFileAsTheyWere) {
  const std::string damaged = Bytes({0xFF, 0xFF, 0xFF, 0x7F, 'a', 'b'});
  std::ofstream(kSettingsFileName, std::ios::binary) << damaged;
  AppSettings = Make("kept", "kept", 7);
  LoadSettings();
  ExpectSame(AppSettings, Make("kept", "kept", 7));
  EXPECT_EQ(FileBytes(), damaged);
}

TEST_F(SettingsStoreTest, SavingWaitsForUpdateMutex) {
  ASSERT_EQ(WaitForSingleObject(UpdateMutex, INFINITE), WAIT_OBJECT_0);
  AppSettings = Make("after", "", 1);
  std::future<void> saving = std::async(std::launch::async, SaveSettings);
  EXPECT_EQ(saving.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  ReleaseMutex(UpdateMutex);
  ASSERT_EQ(saving.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(FileBytes(), EncodeSettingsFile(Make("after", "", 1)));
}

}  // namespace
