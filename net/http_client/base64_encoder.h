#pragma once

/// Encodes bytes as Base64 with the standard alphabet of RFC 4648 ("A"-"Z", "a"-"z", "0"-"9",
/// "+", "/"), "=" padding and no line breaks.
class Base64Encoder {
 public:
  /// Writes the encoding of `length` bytes of `bytes` into `out` with a terminating NUL. Returns 1
  /// when all of it fits into `outCapacity` bytes; otherwise 0, with `out` (when `outCapacity` is
  /// at least 1) holding the complete four-character groups that fit, NUL-terminated. A negative
  /// `length`, or null `bytes` with a positive `length`, gives 0 and an empty `out`.
  int encode(const unsigned char* bytes, int length, char* out, int outCapacity) const;

  /// The capacity `encode` needs for `length` bytes: 4 * ceil(length / 3) + 1. Returns 0 for a
  /// negative length or one whose encoding would not fit an int; no call of encode succeeds with
  /// that capacity.
  static int encodedCapacity(int length);
};
