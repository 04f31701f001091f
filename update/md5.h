#pragma once

#include <cstdint>
#include <string>

/// The running state of one MD5 digest (RFC 1321). Contexts share nothing, so any number of
/// threads may each hash with their own at the same time.
struct Md5Context {
  /// The chaining words A, B, C, D.
  uint32_t state[4];
  /// Bits hashed so far, modulo 2^64, low word first.
  uint32_t count[2];
  /// Input not yet compressed: the first count/8 mod 64 bytes are valid.
  unsigned char buffer[64];
};

/// Starts a new digest in `context`, forgetting whatever it held.
void md5Init(Md5Context* context);

/// Hashes `length` more bytes from `input`. May be called any number of times between md5Init
/// and md5Final; the digest depends only on the concatenated bytes, not on how they were split.
/// `input` may be null when `length` is 0.
void md5Update(Md5Context* context, const unsigned char* input, unsigned int length);

/// Pads the message, writes its 16-byte digest into `digest` and then zeroes the whole context,
/// so no message-derived data remains in it. Call md5Init before using the context again.
void md5Final(unsigned char digest[16], Md5Context* context);

/// The 16 bytes of `digest` as 32 lower-case hex digits, two per byte, in byte order.
std::string md5ToHex(const unsigned char digest[16]);

/// The MD5 digest of all bytes of `text` (embedded NULs included) as 32 lower-case hex digits.
std::string Md5Hex(std::string text);
