#pragma once

// The periodic timer of the tray window that starts an update cycle at every tick.

#include "platform/win32.h"

/// The identifier the platform gave the update timer; 0 while there is none. Guarded by
/// UpdateMutex.
extern UINT_PTR updateTimerId;

/// The period for an interval in seconds. An interval of 0 or below, or one whose milliseconds
/// do not fit 32 bits, gives the default 600 seconds; the stored interval stays as it is.
UINT UpdateTimerPeriod(int intervalSeconds);

/// Stops the old timer, if any, and arms the tray window's timer with AppSettings.updateInterval.
void ResetUpdateTimer();
