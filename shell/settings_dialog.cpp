#include "shell/settings_dialog.h"

#include <cstring>

#include "platform/mutex_lock.h"
#include "resources/resource.h"
#include "settings/app_settings.h"
#include "shell/tray_window.h"
#include "update/service_config.h"

HWND settingsDialogWindow = nullptr;

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunValueName[] = "Zarnik Viewer";
const char kAutostartFileName[] = "zarnik-viewer.desktop";

namespace {

// Room for a user name or password of 255 bytes and its terminator.
constexpr int kFieldCapacity = 256;
// Room for the program's path, quoted, as the Run value holds it.
constexpr DWORD kPathCapacity = 1024;

bool AutostartEntryMatches(const std::string& expected) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  char value[kPathCapacity] = {};
  DWORD size = sizeof value - 1;  // keeps a terminator after whatever comes back
  DWORD type = 0;
  const bool read = RegQueryValueExA(key, kRunValueName, nullptr, &type,
                                     reinterpret_cast<LPBYTE>(value), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return read && !expected.empty() && std::strcmp(value, expected.c_str()) == 0;
}

void WriteAutostartEntry(bool on) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    return;
  }
  const std::string command = AutostartCommand();
  if (on && !command.empty()) {
    RegSetValueExA(key, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
  } else if (!on) {
    RegDeleteValueA(key, kRunValueName);  // a missing value is no error
  }
  RegCloseKey(key);
}

std::string DialogItemText(HWND dialog, int controlId) {
  char text[kFieldCapacity] = {};
  GetDlgItemTextA(dialog, controlId, text, sizeof text);
  return text;
}

void CloseDialog(HWND dialog) {
  if (settingsDialogWindow == dialog) {
    settingsDialogWindow = nullptr;
  }
  DestroyWindow(dialog);
}

void AcceptSettings(HWND dialog) {
  {
    platform::MutexLock lock(UpdateMutex);
    AppSettings.userName = DialogItemText(dialog, IDC_USERNAME);
    AppSettings.password = DialogItemText(dialog, IDC_PASSWORD);
    WriteAutostartEntry(IsDlgButtonChecked(dialog, IDC_AUTOSTART) == BST_CHECKED);
  }
  SaveSettings();
  CloseDialog(dialog);
}

void CopyFeedAddress() {
  const std::string address = FeedAddress();
  if (!OpenClipboard(nullptr)) {
    return;
  }
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, address.size() + 1);
  if (void* text = memory != nullptr ? GlobalLock(memory) : nullptr) {
    std::memcpy(text, address.c_str(), address.size() + 1);
    GlobalUnlock(memory);
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, memory) == nullptr) {
      GlobalFree(memory);  // the clipboard did not take it, so it is still ours
    }
  } else if (memory != nullptr) {
    GlobalFree(memory);
  }
  CloseClipboard();
}

}  // namespace

std::string FeedAddress() {
  const int port = ActiveServiceConfig.serverPort;
  return port == 80 ? "http://localhost/all.xml"
                    : "http://localhost:" + std::to_string(port) + "/all.xml";
}

std::string AutostartCommand() {
  char path[kPathCapacity] = {};
  const DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
  if (length == 0 || length >= sizeof path) {
    return std::string();  // no path, or one cut short: either would start the wrong file
  }
  return "\"" + std::string(path, length) + "\"";
}

void OpenSettingsDialog() {
  HWND dialog = CreateDialogParamA(ProgramInstance, MAKEINTRESOURCEA(IDD_SETTINGS), TrayWindow,
                                   SettingsDialogProc, 0);
  if (dialog == nullptr) {
    return;
  }
  settingsDialogWindow = dialog;
  {
    platform::MutexLock lock(UpdateMutex);
    SetDlgItemTextA(dialog, IDC_USERNAME, AppSettings.userName.c_str());
    SetDlgItemTextA(dialog, IDC_PASSWORD, AppSettings.password.c_str());
    if (AutostartEntryMatches(AutostartCommand())) {
      CheckDlgButton(dialog, IDC_AUTOSTART, BST_CHECKED);
    }
  }
  ShowWindow(dialog, SW_SHOW);
}

// The handlers act on the dialog whose button was pressed. With two dialogs open, acting on the
// newest instead would read the fields of a dialog that may already be closed, and OK would then
// save an empty user name and password.
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_COMMAND) {
    return FALSE;
  }
  switch (LOWORD(wParam)) {
    case IDC_OK:
      AcceptSettings(dialog);
      break;
    case IDC_CANCEL:
      CloseDialog(dialog);
      break;
    case IDC_COPY_FEED_URL:
      CopyFeedAddress();
      break;
    default:
      break;
  }
  return FALSE;
}
