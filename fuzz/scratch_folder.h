#pragma once

#include <string>

/// The private folder of one fuzzing run, made at the first call as NAME-XXXXXX: under /dev/shm
/// where there is one (the targets write files for every input, and memory is faster than a
/// disk), else under /tmp. It is removed when the run ends normally; after a crash or a broken
/// property it stays, with what the failing input left in it.
const std::string& ScratchFolder(const char* name);
