// Runs one update cycle, as the tray program's "Update" does, and prints where "all.xml" went.
//
//   update-once SERVICE_CONF USER [PASSWORD]
//
// The files land in TEMP, which must be set. The password may also come from the environment
// variable ZV_PASSWORD, so it need not show in the process list.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/app_settings.h"
#include "update/service_config.h"
#include "update/update_context.h"
#include "update/update_cycle.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s SERVICE_CONF USER [PASSWORD]\n", argv[0]);
    return 2;
  }
  if (TemporaryDirectory().empty()) {
    std::fprintf(stderr, "%s: set TEMP to the folder the feeds and all.xml go to\n", argv[0]);
    return 2;
  }
  const char* password = argc == 4 ? argv[3] : std::getenv("ZV_PASSWORD");

  ApplyServiceConfig(LoadServiceConfig(argv[1]));
  UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
  AppSettings.userName = argv[2];
  AppSettings.password = password != nullptr ? password : "";
  SetAllXmlPath();

  RunUpdateCycle();
  CloseHandle(UpdateMutex);
  std::printf("%s\n", AllXmlPath.c_str());
  return 0;
}
