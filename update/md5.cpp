#include "update/md5.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t kBlockSize = 64;

// The first padding byte is a single 1 bit; the rest are zeros.
const unsigned char kPadding[kBlockSize] = {0x80};

constexpr uint32_t rotateLeft(uint32_t x, int bits) {
  return (x << bits) | (x >> (32 - bits));
}

// The four mixing functions. Each is written so that as little work as possible waits for `b`,
// the word computed by the step just before: the steps form one long dependency chain.
constexpr uint32_t mixF(uint32_t b, uint32_t c, uint32_t d) {
  return d ^ (b & (c ^ d));
}
// (b & d) and (c & ~d) share no bits, so adding them equals or-ing them, and the half that does
// not need `b` can be summed into the step early.
constexpr uint32_t mixG(uint32_t b, uint32_t c, uint32_t d) {
  return (c & ~d) + (b & d);
}
constexpr uint32_t mixH(uint32_t b, uint32_t c, uint32_t d) {
  return b ^ c ^ d;
}
constexpr uint32_t mixI(uint32_t b, uint32_t c, uint32_t d) {
  return c ^ (b | ~d);
}

using Mix = uint32_t (*)(uint32_t, uint32_t, uint32_t);

template <Mix mix>
inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t word, int shift,
                 uint32_t constant) {
  a = b + rotateLeft(a + word + constant + mix(b, c, d), shift);
}

inline uint32_t loadLittleEndian(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

inline void storeLittleEndian(uint32_t word, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(word);
  bytes[1] = static_cast<unsigned char>(word >> 8);
  bytes[2] = static_cast<unsigned char>(word >> 16);
  bytes[3] = static_cast<unsigned char>(word >> 24);
}

// The rounds below follow RFC 1321 step by step: the registers rotate roles every step, the
// message word, shift and constant (floor(2^32 * |sin i|) for step i) are fixed per step.

inline void roundOne(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t x[16]) {
  step<mixF>(a, b, c, d, x[0], 7, 0xd76aa478);
  step<mixF>(d, a, b, c, x[1], 12, 0xe8c7b756);
  step<mixF>(c, d, a, b, x[2], 17, 0x242070db);
  step<mixF>(b, c, d, a, x[3], 22, 0xc1bdceee);
  step<mixF>(a, b, c, d, x[4], 7, 0xf57c0faf);
  step<mixF>(d, a, b, c, x[5], 12, 0x4787c62a);
  step<mixF>(c, d, a, b, x[6], 17, 0xa8304613);
  step<mixF>(b, c, d, a, x[7], 22, 0xfd469501);
  step<mixF>(a, b, c, d, x[8], 7, 0x698098d8);
  step<mixF>(d, a, b, c, x[9], 12, 0x8b44f7af);
  step<mixF>(c, d, a, b, x[10], 17, 0xffff5bb1);
  step<mixF>(b, c, d, a, x[11], 22, 0x895cd7be);
  step<mixF>(a, b, c, d, x[12], 7, 0x6b901122);
  step<mixF>(d, a, b, c, x[13], 12, 0xfd987193);
  step<mixF>(c, d, a, b, x[14], 17, 0xa679438e);
  step<mixF>(b, c, d, a, x[15], 22, 0x49b40821);
}

inline void roundTwo(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t x[16]) {
  step<mixG>(a, b, c, d, x[1], 5, 0xf61e2562);
  step<mixG>(d, a, b, c, x[6], 9, 0xc040b340);
  step<mixG>(c, d, a, b, x[11], 14, 0x265e5a51);
  step<mixG>(b, c, d, a, x[0], 20, 0xe9b6c7aa);
  step<mixG>(a, b, c, d, x[5], 5, 0xd62f105d);
  step<mixG>(d, a, b, c, x[10], 9, 0x02441453);
  step<mixG>(c, d, a, b, x[15], 14, 0xd8a1e681);
  step<mixG>(b, c, d, a, x[4], 20, 0xe7d3fbc8);
  step<mixG>(a, b, c, d, x[9], 5, 0x21e1cde6);
  step<mixG>(d, a, b, c, x[14], 9, 0xc33707d6);
  step<mixG>(c, d, a, b, x[3], 14, 0xf4d50d87);
  step<mixG>(b, c, d, a, x[8], 20, 0x455a14ed);
  step<mixG>(a, b, c, d, x[13], 5, 0xa9e3e905);
  step<mixG>(d, a, b, c, x[2], 9, 0xfcefa3f8);
  step<mixG>(c, d, a, b, x[7], 14, 0x676f02d9);
  step<mixG>(b, c, d, a, x[12], 20, 0x8d2a4c8a);
}

inline void roundThree(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t x[16]) {
  step<mixH>(a, b, c, d, x[5], 4, 0xfffa3942);
  step<mixH>(d, a, b, c, x[8], 11, 0x8771f681);
  step<mixH>(c, d, a, b, x[11], 16, 0x6d9d6122);
  step<mixH>(b, c, d, a, x[14], 23, 0xfde5380c);
  step<mixH>(a, b, c, d, x[1], 4, 0xa4beea44);
  step<mixH>(d, a, b, c, x[4], 11, 0x4bdecfa9);
  step<mixH>(c, d, a, b, x[7], 16, 0xf6bb4b60);
  step<mixH>(b, c, d, a, x[10], 23, 0xbebfbc70);
  step<mixH>(a, b, c, d, x[13], 4, 0x289b7ec6);
  step<mixH>(d, a, b, c, x[0], 11, 0xeaa127fa);
  step<mixH>(c, d, a, b, x[3], 16, 0xd4ef3085);
  step<mixH>(b, c, d, a, x[6], 23, 0x04881d05);
  step<mixH>(a, b, c, d, x[9], 4, 0xd9d4d039);
  step<mixH>(d, a, b, c, x[12], 11, 0xe6db99e5);
  step<mixH>(c, d, a, b, x[15], 16, 0x1fa27cf8);
  step<mixH>(b, c, d, a, x[2], 23, 0xc4ac5665);
}

inline void roundFour(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t x[16]) {
  step<mixI>(a, b, c, d, x[0], 6, 0xf4292244);
  step<mixI>(d, a, b, c, x[7], 10, 0x432aff97);
  step<mixI>(c, d, a, b, x[14], 15, 0xab9423a7);
  step<mixI>(b, c, d, a, x[5], 21, 0xfc93a039);
  step<mixI>(a, b, c, d, x[12], 6, 0x655b59c3);
  step<mixI>(d, a, b, c, x[3], 10, 0x8f0ccc92);
  step<mixI>(c, d, a, b, x[10], 15, 0xffeff47d);
  step<mixI>(b, c, d, a, x[1], 21, 0x85845dd1);
  step<mixI>(a, b, c, d, x[8], 6, 0x6fa87e4f);
  step<mixI>(d, a, b, c, x[15], 10, 0xfe2ce6e0);
  step<mixI>(c, d, a, b, x[6], 15, 0xa3014314);
  step<mixI>(b, c, d, a, x[13], 21, 0x4e0811a1);
  step<mixI>(a, b, c, d, x[4], 6, 0xf7537e82);
  step<mixI>(d, a, b, c, x[11], 10, 0xbd3af235);
  step<mixI>(c, d, a, b, x[2], 15, 0x2ad7d2bb);
  step<mixI>(b, c, d, a, x[9], 21, 0xeb86d391);
}

// Compresses `count` whole 64-byte blocks straight from `blocks` into `state`.
void compressBlocks(uint32_t state[4], const unsigned char* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += kBlockSize) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
      x[i] = loadLittleEndian(blocks + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    roundOne(a, b, c, d, x);
    roundTwo(a, b, c, d, x);
    roundThree(a, b, c, d, x);
    roundFour(a, b, c, d, x);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
  }
}

void addToBitCount(uint32_t count[2], uint32_t byteLength) {
  const uint32_t lowBits = byteLength << 3;
  count[0] += lowBits;
  if (count[0] < lowBits)
    ++count[1];
  count[1] += byteLength >> 29;
}

// The context holds password-derived data. A plain memset of memory that is never read again may
// be dropped as a dead store; a call through a volatile pointer cannot be, since the compiler
// cannot know which function it reaches.
void wipe(Md5Context* context) {
  static void* (*const volatile zeroFill)(void*, int, std::size_t) = std::memset;
  zeroFill(context, 0, sizeof *context);
}

}  // namespace

void md5Init(Md5Context* context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->count[0] = 0;
  context->count[1] = 0;
}

void md5Update(Md5Context* context, const unsigned char* input, unsigned int length) {
  // A null input comes with length 0, and memcpy must never be handed a null pointer.
  if (length == 0)
    return;
  const std::size_t index = (context->count[0] >> 3) % kBlockSize;
  addToBitCount(context->count, length);

  std::size_t left = length;
  if (index != 0) {
    const std::size_t taken = std::min(kBlockSize - index, left);
    std::memcpy(context->buffer + index, input, taken);
    input += taken;
    left -= taken;
    if (index + taken < kBlockSize)
      return;
    compressBlocks(context->state, context->buffer, 1);
  }
  const std::size_t wholeBlocks = left / kBlockSize;
  compressBlocks(context->state, input, wholeBlocks);
  std::memcpy(context->buffer, input + wholeBlocks * kBlockSize, left % kBlockSize);
}

void md5Final(unsigned char digest[16], Md5Context* context) {
  unsigned char bitCount[8];
  storeLittleEndian(context->count[0], bitCount);
  storeLittleEndian(context->count[1], bitCount + 4);

  const unsigned int index = (context->count[0] >> 3) % kBlockSize;
  const unsigned int padLength = index < 56 ? 56 - index : 120 - index;
  md5Update(context, kPadding, padLength);
  md5Update(context, bitCount, sizeof bitCount);

  for (int i = 0; i < 4; ++i)
    storeLittleEndian(context->state[i], digest + 4 * i);
  wipe(context);
}

std::string md5ToHex(const unsigned char digest[16]) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex(32, '0');
  for (int i = 0; i < 16; ++i) {
    hex[2 * i] = kHexDigits[digest[i] >> 4];
    hex[2 * i + 1] = kHexDigits[digest[i] & 0x0f];
  }
  return hex;
}

std::string Md5Hex(std::string text) {
  // md5Update counts in unsigned int, so a string beyond that range goes in several pieces.
  constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
  Md5Context context;
  md5Init(&context);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t left = text.size(); left > 0;) {
    const std::size_t piece = std::min(left, kMaxPiece);
    md5Update(&context, bytes, static_cast<unsigned int>(piece));
    bytes += piece;
    left -= piece;
  }
  unsigned char digest[16];
  md5Final(digest, &context);
  return md5ToHex(digest);
}
