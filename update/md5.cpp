#include "update/md5.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

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

// RFC 1321's 64 steps, four rounds of 16. Round r mixes with kMixes[r], rotates step j by
// kShifts[r][j % 4] and takes message word (kFirstWord[r] + kWordStride[r] * j) % 16; step i adds
// floor(2^32 * |sin(i + 1)|).
using Mix = uint32_t (*)(uint32_t, uint32_t, uint32_t);
constexpr Mix kMixes[4] = {mixF, mixG, mixH, mixI};
constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
constexpr int kFirstWord[4] = {0, 1, 5, 0};
constexpr int kWordStride[4] = {1, 5, 3, 7};
constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Step i. The registers rotate roles every step: the one written by step i is v[-i mod 4].
template <std::size_t i>
inline void step(uint32_t (&v)[4], const uint32_t x[16]) {
  constexpr std::size_t round = i / 16, j = i % 16;
  constexpr Mix mix = kMixes[round];
  const uint32_t b = v[(65 - i) % 4], c = v[(66 - i) % 4], d = v[(67 - i) % 4];
  uint32_t& a = v[(64 - i) % 4];
  const uint32_t word = x[(kFirstWord[round] + kWordStride[round] * j) % 16];
  a = b + rotateLeft(a + word + kSines[i] + mix(b, c, d), kShifts[round][j % 4]);
}

// All 64 steps, written out by the compiler: every index, shift and constant is fixed.
template <std::size_t... i>
inline void allSteps(uint32_t (&v)[4], const uint32_t x[16], std::index_sequence<i...>) {
  (step<i>(v, x), ...);
}

// Compresses `count` whole 64-byte blocks straight from `blocks` into `state`.
void compressBlocks(uint32_t state[4], const unsigned char* blocks, std::size_t count) {
  for (; count > 0; --count, blocks += kBlockSize) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
      x[i] = loadLittleEndian(blocks + 4 * i);
    uint32_t v[4] = {state[0], state[1], state[2], state[3]};
    allSteps(v, x, std::make_index_sequence<64>());
    for (int i = 0; i < 4; ++i)
      state[i] += v[i];
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
