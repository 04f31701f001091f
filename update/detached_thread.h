#pragma once

#include <functional>

/// Starts `work` on a thread of its own that nobody waits for. False, with nothing started, when
/// the system cannot start another thread.
bool StartDetachedThread(std::function<void()> work);

/// How the update engine starts its threads: StartDetachedThread, or a stand-in that tests use to
/// play a system out of threads.
using ThreadStarter = bool (*)(std::function<void()> work);
