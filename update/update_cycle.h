#pragma once

#include <atomic>
#include <string>

#include "update/detached_thread.h"

/// True while an update cycle runs (from claiming the work to finishing the merge). Written under
/// UpdateMutex; the tray menu and the animation read it without the lock.
extern std::atomic<bool> updateInProgress;

/// The path of "all.xml": TEMP, the platform's separator and "all.xml", formed once by
/// SetAllXmlPath at start-up.
extern std::string AllXmlPath;

/// Forms AllXmlPath from the current value of TEMP (empty when TEMP is not set).
void SetAllXmlPath();

/// Called first thing by every cycle thread; the tray animation sets it. May be null.
extern void (*UpdateStartedHook)();

/// Starts a thread that runs one update cycle, and returns at once. When no thread can be
/// started there is no cycle; the next start tries again.
void StartUpdateCycle(ThreadStarter startThread = StartDetachedThread);

/// One update cycle: the friends list, every friend's feed, the merge into "all.xml". Reads TEMP,
/// the settings and the service configuration when it has claimed the work, and hands them to
/// each step; its download threads are started by `startThread`, and a friend whose thread cannot
/// start fails as a failed download does. Ends at once when another cycle runs or TEMP is not
/// set. Returns 0.
int RunUpdateCycle(ThreadStarter startThread = StartDetachedThread);
