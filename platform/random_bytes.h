#pragma once

#include <cstddef>

namespace platform {

/// Fills `length` bytes at `buffer` from the system's random source, the one meant for keys and
/// nonces (getrandom or /dev/urandom on Linux, the system's preferred generator on Windows); the
/// bytes do not depend on the time or on anything else a caller could guess. Safe to call from
/// many threads at once. False when the source cannot give them, and the bytes are then not to be
/// used.
bool FillRandomBytes(void* buffer, std::size_t length);

}  // namespace platform
