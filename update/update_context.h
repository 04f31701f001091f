#pragma once

#include <string>

#include "settings/app_settings.h"
#include "update/detached_thread.h"
#include "update/service_config.h"

/// What one update cycle works with, read when the cycle starts and handed to each of its steps,
/// so that no step reads the environment, the settings or the service configuration itself.
struct UpdateContext {
  std::string tempDir;    ///< the temporary directory, TemporaryDirectory(); empty when unset
  Settings settings;      ///< a copy of AppSettings
  ServiceConfig service;  ///< a copy of ActiveServiceConfig
  ThreadStarter startThread = StartDetachedThread;  ///< starts the cycle's download threads
};

/// The value of TEMP, where every file of the update engine goes; empty when TEMP is not set.
std::string TemporaryDirectory();

/// Reads TEMP, copies AppSettings under UpdateMutex (the caller must not hold it) and copies
/// ActiveServiceConfig.
UpdateContext TakeUpdateContext();
