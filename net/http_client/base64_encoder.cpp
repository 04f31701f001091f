#include "net/http_client/base64_encoder.h"

#include <climits>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/// Encodes one group of one to three bytes as four characters, padding with "=".
void EncodeGroup(const unsigned char* group, int size, char* out) {
  const unsigned b0 = group[0];
  const unsigned b1 = size > 1 ? group[1] : 0;
  const unsigned b2 = size > 2 ? group[2] : 0;
  out[0] = kAlphabet[b0 >> 2];
  out[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
  out[2] = size > 1 ? kAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
  out[3] = size > 2 ? kAlphabet[b2 & 63] : '=';
}

}  // namespace

int Base64Encoder::encode(const unsigned char* bytes, int length, char* out,
                          int outCapacity) const {
  if (out == nullptr || outCapacity < 1) {
    return 0;
  }
  out[0] = '\0';
  if (length < 0 || (bytes == nullptr && length > 0)) {
    return 0;
  }
  int written = 0;
  for (int done = 0; done < length; done += 3) {
    // Compared as "room left" so that no sum can overflow near INT_MAX.
    if (outCapacity - written < 5) {
      out[written] = '\0';
      return 0;
    }
    EncodeGroup(bytes + done, length - done < 3 ? length - done : 3, out + written);
    written += 4;
  }
  out[written] = '\0';
  return 1;
}

int Base64Encoder::encodedCapacity(int length) {
  if (length < 0) {
    return 0;
  }
  const long long capacity = 4LL * ((static_cast<long long>(length) + 2) / 3) + 1;
  return capacity > INT_MAX ? 0 : static_cast<int>(capacity);
}
