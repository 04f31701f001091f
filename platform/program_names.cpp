// The same on every platform: the names are only kept here, for the back end that needs them.
#include "platform/program_names.h"

#include <mutex>

namespace platform {
namespace {

std::mutex& ProgramNamesLock() {
  static std::mutex lock;
  return lock;
}

ProgramNames& StoredProgramNames() {
  static ProgramNames names;
  return names;
}

}  // namespace

void SetProgramNames(const ProgramNames& names) {
  std::lock_guard<std::mutex> hold(ProgramNamesLock());
  StoredProgramNames() = names;
}

ProgramNames CurrentProgramNames() {
  std::lock_guard<std::mutex> hold(ProgramNamesLock());
  return StoredProgramNames();
}

}  // namespace platform
