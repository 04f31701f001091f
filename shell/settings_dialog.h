#pragma once

// The settings dialog: the journal user name and optional password, starting with the desktop
// session on or off, and a button that copies the feed address to the clipboard. It is modeless
// and runs on the main thread inside the ordinary message loop.

#include <string>

#include "platform/win32.h"

/// The most recently opened settings dialog; null before the first and once it is closed.
extern HWND settingsDialogWindow;

/// The autostart entry: this value under the current user's Run key holds the quoted program
/// path exactly while autostart is on.
extern const char kRunKey[];
extern const char kRunValueName[];  ///< "Zarnik Viewer"
/// Where the platform keeps the Run key itself: the file of the autostart entry.
extern const char kAutostartFileName[];  ///< "zarnik-viewer.desktop"

/// Opens a new settings dialog, filled from AppSettings and the autostart entry, and shows it.
void OpenSettingsDialog();

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/// The address feed readers subscribe to: "http://localhost/all.xml", with the server's port
/// after the host name when it is not 80.
std::string FeedAddress();

/// The autostart entry's text for the running program: its full path in double quotes; empty
/// when the path cannot be had.
std::string AutostartCommand();
