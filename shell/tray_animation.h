#pragma once

// The tray icon's animation while an update runs: four pictures, 200 ms each, with the tip
// "Zarnik Viewer updating...", until the update ends; then the idle picture and tip again.

#include "platform/win32.h"

extern const char kUpdatingTip[];  ///< "Zarnik Viewer updating..."

/// Thread procedure: at least one whole pass of the four pictures, then more while an update is
/// in progress, then the idle picture. Returns 0.
DWORD WINAPI AnimateTrayIcon(LPVOID);

/// Starts AnimateTrayIcon on a thread of its own; every update cycle calls it first.
void StartTrayAnimation();
