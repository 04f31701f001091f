#pragma once

// The names under which the desktop session knows the program, handed in by the program itself so
// that the layer names nothing after it.

#include <string>

namespace platform {

struct ProgramNames {
  /// The program's value under the current user's Run key: set, it starts the program with the
  /// session.
  std::string runValueName;
  /// Where the layer keeps the Run key itself (not on Windows): the name of the autostart entry's
  /// file that holds that value.
  std::string autostartFileName;
};

/// Tells the layer the program's names; the program calls it first, before it uses the Run key.
/// Until then the Run key that the layer keeps holds no value at all.
void SetProgramNames(const ProgramNames& names);

/// What SetProgramNames was last given; both names empty before. Safe from any thread.
ProgramNames CurrentProgramNames();

}  // namespace platform
