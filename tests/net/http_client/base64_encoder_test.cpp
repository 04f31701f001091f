#include "net/http_client/base64_encoder.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

// The encoding of `bytes`, or "<too small>" when encode answers 0.
std::string Encoded(const std::string& bytes, int capacity = -1) {
  const int length = static_cast<int>(bytes.size());
  if (capacity < 0) {
    capacity = Base64Encoder::encodedCapacity(length);
  }
  std::vector<char> out(static_cast<std::size_t>(capacity) + 1, '#');
  const int done = Base64Encoder().encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                          length, out.data(), capacity);
  EXPECT_EQ(out.back(), '#') << "encode wrote past its capacity";
  if (done != 1) {
    EXPECT_EQ(done, 0);
    return "<too small>";
  }
  return out.data();
}

TEST(Base64EncoderTest, Rfc4648Vectors) {
  EXPECT_EQ(Encoded(""), "");
  EXPECT_EQ(Encoded("f"), "Zg==");
  EXPECT_EQ(Encoded("fo"), "Zm8=");
  EXPECT_EQ(Encoded("foo"), "Zm9v");
  EXPECT_EQ(Encoded("foob"), "Zm9vYg==");
  EXPECT_EQ(Encoded("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Encoded("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Encoded("abc"), "YWJj");
  EXPECT_EQ(Encoded("a"), "YQ==");
  EXPECT_EQ(Encoded("ab"), "YWI=");
  EXPECT_EQ(Encoded("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(Base64EncoderTest, BinaryBytesUseTheWholeAlphabet) {
  EXPECT_EQ(Encoded(std::string("\x00\x00\x00", 3)), "AAAA");
  EXPECT_EQ(Encoded("\xff\xff\xff"), "////");
  EXPECT_EQ(Encoded("\xfb\xef\xbe"), "++++");
  EXPECT_EQ(Encoded(std::string("\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93"
                                "\x51\x55\x97\x61\x96\x9b\x71\xd7\x9f\x82\x18\xa3\x92\x59\xa7"
                                "\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c\xb3\xd3\x5d\xb7\xe3\x9e\xbb"
                                "\xf3\xdf\xbf",
                                48)),
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

TEST(Base64EncoderTest, RefusesAnOutBufferOneByteShort) {
  EXPECT_EQ(Base64Encoder::encodedCapacity(0), 1);
  EXPECT_EQ(Base64Encoder::encodedCapacity(1), 5);
  EXPECT_EQ(Base64Encoder::encodedCapacity(3), 5);
  EXPECT_EQ(Base64Encoder::encodedCapacity(4), 9);
  EXPECT_EQ(Base64Encoder::encodedCapacity(-1), 0);
  EXPECT_EQ(Base64Encoder::encodedCapacity(INT_MAX), 0) << "the encoding would not fit an int";

  EXPECT_EQ(Encoded("foobar", 9), "Zm9vYmFy");
  EXPECT_EQ(Encoded("foobar", 8), "<too small>");
  EXPECT_EQ(Encoded("foob", 9), "Zm9vYg==");
  EXPECT_EQ(Encoded("foob", 8), "<too small>");

  // What did fit is still a valid string.
  char out[8];
  EXPECT_EQ(Base64Encoder().encode(reinterpret_cast<const unsigned char*>("foobar"), 6, out, 8), 0);
  EXPECT_STREQ(out, "Zm9v");
  EXPECT_EQ(Base64Encoder().encode(reinterpret_cast<const unsigned char*>("f"), 1, out, 1), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(Base64Encoder().encode(nullptr, 3, out, 8), 0);
  EXPECT_EQ(Base64Encoder().encode(reinterpret_cast<const unsigned char*>("f"), -1, out, 8), 0);
  EXPECT_EQ(Base64Encoder().encode(nullptr, 0, out, 1), 1);
  EXPECT_STREQ(out, "");
}

}  // namespace
