#pragma once

// Bytes of every value for tests, from a seeded generator so that a run can be repeated.

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

/// `length` bytes drawn from `random`, four bytes to a draw.
inline std::string RandomBytes(std::mt19937& random, std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; i += 4) {
    const std::uint32_t word = random();
    for (std::size_t j = i; j < std::min(i + 4, length); ++j) {
      bytes[j] = static_cast<char>(word >> (8 * (j - i)));
    }
  }
  return bytes;
}

/// `length` bytes from a generator started with `seed`: the same bytes for the same seed.
inline std::string RandomBytes(std::size_t length, std::uint32_t seed) {
  std::mt19937 random(seed);
  return RandomBytes(random, length);
}
