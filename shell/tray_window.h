#pragma once

// The hidden top-level window that owns the tray icon, receives its mouse messages and the
// update timer, shows the popup menu and carries out the menu's commands.

#include <string>

#include "platform/win32.h"

/// The menu's commands, as they arrive in the low word of WM_COMMAND's first parameter.
enum TrayCommand : UINT {
  kExitCommand = 0,
  kSettingsCommand = 1,
  kUpdateCommand = 2,
  kAboutCommand = 3,
};

/// The message the tray icon sends its window; the mouse event comes in the second parameter.
constexpr UINT kTrayCallbackMessage = WM_USER + 1;
constexpr UINT kTrayIconId = 0;

extern const char kTrayWindowClass[];  ///< "ZarnikVwer"
extern const char kTrayWindowTitle[];  ///< "Zarnik Viewer"
extern const char kIdleTip[];          ///< "Zarnik Viewer"

/// The program's instance, which the tray pictures and the dialog template are loaded from.
extern HINSTANCE ProgramInstance;
/// The tray window, once created; the timer, the tray icon and the animation use it.
extern HWND TrayWindow;
/// What "About..." opens: a page about the program, set at start-up.
extern std::string AboutPage;

/// Registers the class "ZarnikVwer" with TrayWindowProc; false when registration fails.
bool RegisterTrayWindowClass(HINSTANCE instance);
/// Creates the hidden tray window (never shown) and keeps its handle in TrayWindow; null on
/// failure.
HWND CreateTrayWindow(HINSTANCE instance);

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/// The tray icon of TrayWindow: added with the idle picture and tip, changed by the animation,
/// removed at Exit. Results of the notification area are not examined.
void AddTrayIcon();
void ModifyTrayIcon(int iconNumber, const char* tip);
void RemoveTrayIcon();

/// Builds the popup menu anew and tracks it at the cursor: "Update", "Settings...", "About...",
/// "Exit", the first three greyed while an update runs. A choice arrives later as WM_COMMAND.
void ShowTrayMenu(HWND window);
