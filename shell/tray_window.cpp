#include "shell/tray_window.h"

#include <cstring>

#include "resources/resource.h"
#include "shell/settings_dialog.h"
#include "update/update_cycle.h"

const char kTrayWindowClass[] = "ZarnikVwer";
const char kTrayWindowTitle[] = "Zarnik Viewer";
const char kIdleTip[] = "Zarnik Viewer";

HINSTANCE ProgramInstance = nullptr;
HWND TrayWindow = nullptr;
std::string AboutPage;

namespace {

NOTIFYICONDATAA TrayIconRecord() {
  NOTIFYICONDATAA data{};
  // The record the notification area takes is its first version (88 bytes in a 32-bit program).
  // Its size follows the program's word size: 64-bit Windows refuses the 32-bit figure.
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = TrayWindow;
  data.uID = kTrayIconId;
  return data;
}

void SendTrayIcon(DWORD message, int iconNumber, const char* tip) {
  NOTIFYICONDATAA data = TrayIconRecord();
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallbackMessage;
  data.hIcon = LoadIconA(ProgramInstance, MAKEINTRESOURCEA(static_cast<WORD>(iconNumber)));
  // The tip field holds 63 characters and its terminator.
  std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
  data.szTip[sizeof data.szTip - 1] = '\0';
  Shell_NotifyIconA(message, &data);
}

void RunCommand(UINT command) {
  switch (command) {
    case kUpdateCommand:
      StartUpdateCycle();
      break;
    case kSettingsCommand:
      OpenSettingsDialog();
      break;
    case kAboutCommand:
      ShellExecuteA(nullptr, "open", AboutPage.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      break;
    case kExitCommand:
      RemoveTrayIcon();
      PostQuitMessage(0);
      break;
    default:
      break;
  }
}

}  // namespace

bool RegisterTrayWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;  // 48 bytes in a 32-bit program, 80 in a 64-bit one
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = TrayWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = kTrayWindowClass;
  return RegisterClassExA(&windowClass) != 0;
}

HWND CreateTrayWindow(HINSTANCE instance) {
  TrayWindow = CreateWindowExA(0, kTrayWindowClass, kTrayWindowTitle, WS_OVERLAPPEDWINDOW,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                               nullptr, instance, nullptr);
  return TrayWindow;
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      RunCommand(LOWORD(wParam));
      return 0;
    case WM_TIMER:
      StartUpdateCycle();
      return 0;
    case kTrayCallbackMessage:
      if (lParam == WM_RBUTTONUP) {
        ShowTrayMenu(window);
      }
      return 0;
    case WM_QUIT:
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void AddTrayIcon() {
  SendTrayIcon(NIM_ADD, IDI_TRAY_IDLE, kIdleTip);
}

void ModifyTrayIcon(int iconNumber, const char* tip) {
  SendTrayIcon(NIM_MODIFY, iconNumber, tip);
}

void RemoveTrayIcon() {
  NOTIFYICONDATAA data = TrayIconRecord();
  Shell_NotifyIconA(NIM_DELETE, &data);
}

void ShowTrayMenu(HWND window) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) {
    return;
  }
  InsertMenuA(menu, 0, MF_BYPOSITION, kExitCommand, "Exit");
  // Read once, so the three items agree; the menu is not updated while it is open.
  const UINT flags = updateInProgress ? MF_BYPOSITION | MF_GRAYED | MF_DISABLED : MF_BYPOSITION;
  InsertMenuA(menu, 0, flags, kAboutCommand, "About...");
  InsertMenuA(menu, 0, flags, kSettingsCommand, "Settings...");
  InsertMenuA(menu, 0, flags, kUpdateCommand, "Update");

  SetForegroundWindow(window);
  POINT cursor{};
  GetCursorPos(&cursor);
  TrackPopupMenu(menu, TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window, nullptr);
  // The choice, if any, is already on its way as WM_COMMAND; the menu itself is no longer needed.
  DestroyMenu(menu);
}
