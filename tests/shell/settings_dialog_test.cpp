// The settings dialog as a user works it: what it shows, what OK and Cancel keep, the autostart
// entry, the copy button, and two dialogs open at once.
#include "shell/settings_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/front_ends/programmatic_front_end.h"
#include "platform/program_names.h"
#include "resources/resource.h"
#include "settings/app_settings.h"
#include "shell/tray_window.h"
#include "tests/platform/posix/desktop/recording_window.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/scratch_directory.h"
#include "update/service_config.h"

namespace {

using desktop_test::DispatchWaiting;
using platform::DialogChange;

// The data of the autostart value, terminator included as stored; nothing when it is missing.
std::optional<std::string> RunValue() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  char data[1024];
  DWORD size = sizeof data;
  const LSTATUS result =
      RegQueryValueExA(key, kRunValueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? std::optional<std::string>(std::string(data, size))
                                 : std::nullopt;
}

void SetRunValue(const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(
      RegSetValueExA(key, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1)),
      ERROR_SUCCESS)
      << text;
  RegCloseKey(key);
}

// The entry exactly as the program writes it: the quoted path and its terminator.
std::string StoredCommand() {
  return AutostartCommand() + '\0';
}

void ExpectSettings(const Settings& expected) {
  EXPECT_EQ(AppSettings.userName, expected.userName);
  EXPECT_EQ(AppSettings.password, expected.password);
  EXPECT_EQ(AppSettings.updateInterval, expected.updateInterval);
}

class SettingsDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::SetProgramNames({kRunValueName, kAutostartFileName});  // as the program does
    previousDirectory_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.path());
    UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
    ProgramInstance = GetModuleHandleA(nullptr);
    previousConfig_ = ActiveServiceConfig;
    AppSettings = Settings{"stored", "secret"};
    platform::SetFrontEnd(&frontEnd_);
  }

  void TearDown() override {
    for (const auto& event : frontEnd_.DialogEvents()) {
      DestroyWindow(event.dialog.dialog);  // those still open
    }
    platform::SetFrontEnd(nullptr);
    settingsDialogWindow = nullptr;
    ProgramInstance = nullptr;
    AppSettings = Settings();
    ActiveServiceConfig = previousConfig_;
    CloseHandle(UpdateMutex);
    UpdateMutex = nullptr;
    std::filesystem::current_path(previousDirectory_);
  }

  HWND Open() {
    OpenSettingsDialog();
    EXPECT_NE(settingsDialogWindow, nullptr);
    return settingsDialogWindow;
  }

  // A control of the dialog as the front end saw it when the dialog was first shown.
  platform::DialogControlView Shown(HWND dialog, int id) {
    for (const auto& event : frontEnd_.DialogEvents()) {
      if (event.dialog.dialog == dialog && event.change == DialogChange::kShown) {
        for (const platform::DialogControlView& control : event.dialog.controls) {
          if (control.id == id) {
            return control;
          }
        }
      }
    }
    ADD_FAILURE() << "the dialog was never shown";
    return {};
  }

  bool ShownChecked(HWND dialog) { return Shown(dialog, IDC_AUTOSTART).checked; }

  void Type(HWND dialog, const std::string& userName, const std::string& password) {
    EXPECT_TRUE(frontEnd_.TypeText(dialog, IDC_USERNAME, userName));
    EXPECT_TRUE(frontEnd_.TypeText(dialog, IDC_PASSWORD, password));
  }

  void Press(HWND dialog, int button) {
    EXPECT_TRUE(frontEnd_.PressButton(dialog, button));
    DispatchWaiting();
  }

  ScratchDirectory scratch_;
  std::filesystem::path previousDirectory_;
  ScopedVariable configHome_{"XDG_CONFIG_HOME", scratch_.file("config")};
  ServiceConfig previousConfig_;
  platform::ProgrammaticFrontEnd frontEnd_;
};

TEST_F(SettingsDialogTest, OpensFilledWithTheStoredNameAndTheMaskedPassword) {
  HWND dialog = Open();
  // Filled before it is shown: the first view already holds the values.
  EXPECT_EQ(Shown(dialog, IDC_USERNAME).text, "stored");
  EXPECT_EQ(Shown(dialog, IDC_PASSWORD).text, "******");
  EXPECT_FALSE(ShownChecked(dialog));
  char password[256];
  GetDlgItemTextA(dialog, IDC_PASSWORD, password, sizeof password);
  EXPECT_STREQ(password, "secret");
}

TEST_F(SettingsDialogTest, TheBoxIsCheckedOnlyForTheQuotedPathOfThisProgram) {
  const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  ASSERT_EQ(AutostartCommand(), "\"" + program + "\"");
  std::string upper = AutostartCommand();
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

  SetRunValue(AutostartCommand());
  EXPECT_TRUE(ShownChecked(Open()));
  for (const std::string& other :
       {program, upper, "\"/moved/elsewhere/" + program.substr(program.rfind('/') + 1) + "\"",
        AutostartCommand() + " --later", "\"" + program.substr(0, program.size() - 1) + "\""}) {
    SetRunValue(other);
    EXPECT_FALSE(ShownChecked(Open())) << other;
  }
}

TEST_F(SettingsDialogTest, OkSavesTheFieldsCutTo255CharactersAndWritesTheEntry) {
  HWND dialog = Open();
  Type(dialog, std::string(300, 'u'), std::string(300, 'p'));
  ASSERT_TRUE(frontEnd_.ToggleCheckBox(dialog, IDC_AUTOSTART));
  Press(dialog, IDC_OK);

  const Settings cut{std::string(255, 'u'), std::string(255, 'p')};
  ExpectSettings(cut);
  EXPECT_EQ(scratch_.Read(kSettingsFileName), EncodeSettingsFile(cut));
  EXPECT_EQ(RunValue(), StoredCommand());
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(settingsDialogWindow, nullptr);
}

// After the program has moved, its stale entry shows clear until OK with the box checked mends
// it. OK writes the entry also when it is right already, and removes it with the box clear.
TEST_F(SettingsDialogTest, OkWritesOrRemovesTheEntryAlsoWhenOneExists) {
  SetRunValue("\"/old/place/zarnik-viewer\"");
  HWND dialog = Open();
  ASSERT_FALSE(ShownChecked(dialog));
  ASSERT_TRUE(frontEnd_.ToggleCheckBox(dialog, IDC_AUTOSTART));
  Press(dialog, IDC_OK);
  EXPECT_EQ(RunValue(), StoredCommand());

  dialog = Open();
  ASSERT_TRUE(ShownChecked(dialog));
  Press(dialog, IDC_OK);
  EXPECT_EQ(RunValue(), StoredCommand());

  dialog = Open();
  ASSERT_TRUE(frontEnd_.ToggleCheckBox(dialog, IDC_AUTOSTART));
  Press(dialog, IDC_OK);
  EXPECT_EQ(RunValue(), std::nullopt);

  // Nothing to remove is no failure: the settings are still saved.
  dialog = Open();
  Type(dialog, "again", "");
  Press(dialog, IDC_OK);
  EXPECT_EQ(RunValue(), std::nullopt);
  EXPECT_EQ(scratch_.Read(kSettingsFileName), EncodeSettingsFile(Settings{"again", ""}));
}

TEST_F(SettingsDialogTest, CancelKeepsSettingsFileAndEntry) {
  const std::string file = EncodeSettingsFile(AppSettings);
  scratch_.Write(kSettingsFileName, file);
  SetRunValue("\"/old/place/zarnik-viewer\"");
  const std::optional<std::string> entry = RunValue();

  HWND dialog = Open();
  Type(dialog, "someone else", "other");
  ASSERT_TRUE(frontEnd_.ToggleCheckBox(dialog, IDC_AUTOSTART));
  Press(dialog, IDC_CANCEL);

  ExpectSettings(Settings{"stored", "secret"});
  EXPECT_EQ(scratch_.Read(kSettingsFileName), file);
  EXPECT_EQ(RunValue(), entry);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(settingsDialogWindow, nullptr);
}

TEST_F(SettingsDialogTest, CopyLeavesExactlyTheFeedAddressOnTheClipboard) {
  HWND dialog = Open();
  Press(dialog, IDC_COPY_FEED_URL);
  ActiveServiceConfig.serverPort = 8080;
  Press(dialog, IDC_COPY_FEED_URL);
  EXPECT_EQ(frontEnd_.ClipboardTexts(), (std::vector<std::string>{
                                            "http://localhost/all.xml",
                                            "http://localhost:8080/all.xml",
                                        }));
  EXPECT_TRUE(IsWindow(dialog));  // the dialog stays open
}

// With two dialogs open, OK on the older one after the newer was closed once read the closed
// dialog's fields, and saved an empty user name and password.
TEST_F(SettingsDialogTest, OkOnTheOlderDialogAfterTheNewerClosedSavesItsOwnFields) {
  HWND older = Open();
  HWND newer = Open();
  ASSERT_NE(older, newer);
  Type(older, "alice", "a-pass");
  Type(newer, "bob", "b-pass");
  Press(newer, IDC_CANCEL);
  EXPECT_FALSE(IsWindow(newer));
  EXPECT_EQ(settingsDialogWindow, nullptr);
  ExpectSettings(Settings{"stored", "secret"});

  Press(older, IDC_OK);
  ExpectSettings(Settings{"alice", "a-pass"});
  EXPECT_EQ(scratch_.Read(kSettingsFileName), EncodeSettingsFile(Settings{"alice", "a-pass"}));
  EXPECT_FALSE(IsWindow(older));
}

TEST_F(SettingsDialogTest, ClosingTheOlderDialogLeavesTheNewerOpen) {
  HWND older = Open();
  HWND newer = Open();
  Type(older, "alice", "a-pass");
  Press(older, IDC_OK);
  ExpectSettings(Settings{"alice", "a-pass"});
  EXPECT_FALSE(IsWindow(older));
  EXPECT_TRUE(IsWindow(newer));
  EXPECT_EQ(settingsDialogWindow, newer);

  // The newer one still shows what was stored when it opened, and saves what it shows.
  Press(newer, IDC_OK);
  ExpectSettings(Settings{"stored", "secret"});
  EXPECT_EQ(settingsDialogWindow, nullptr);
}

}  // namespace
