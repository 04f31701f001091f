#include "update/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/random_bytes.h"

namespace {

namespace fs = std::filesystem;

std::string DigestOf(const std::string& bytes, const std::vector<std::size_t>& pieceSizes) {
  Md5Context context;
  md5Init(&context);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t done = 0;
  for (std::size_t i = 0; done < bytes.size(); ++i) {
    const std::size_t piece = std::min(pieceSizes[i % pieceSizes.size()], bytes.size() - done);
    md5Update(&context, data + done, static_cast<unsigned int>(piece));
    done += piece;
  }
  unsigned char digest[16];
  md5Final(digest, &context);
  return md5ToHex(digest);
}

TEST(Md5Test, KnownDigestsWholeAndBytewise) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      // The suite of RFC 1321, appendix A.5.
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // Lengths around the padding boundaries: the bit count fits after 55 bytes, not after 56.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
      {std::string(127, 'a'), "020406e1d05cdc2aa287641f7ae2cc39"},
      {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
      {std::string(129, 'a'), "b325dc1c6f5e7a2b7cf465b9feab7948"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.input.size()));
    EXPECT_EQ(Md5Hex(c.input), c.digest);
    EXPECT_EQ(DigestOf(c.input, {1}), c.digest);
  }
}

TEST(Md5Test, HexIsTwoLowerCaseDigitsPerByteAndCoversEmbeddedNuls) {
  const unsigned char digest[16] = {0x00, 0x0f, 0xf0, 0xff, 0x01, 0xab, 0xcd, 0xef,
                                    0x10, 0x20, 0x9a, 0xbc, 0x7f, 0x80, 0x05, 0x50};
  EXPECT_EQ(md5ToHex(digest), "000ff0ff01abcdef10209abc7f800550");

  const std::string withNuls("a\0b\0\0c", 6);
  EXPECT_EQ(Md5Hex(withNuls), "9dda6c26e3a9d07b7c2eb984cf3b59e1");
  EXPECT_EQ(Md5Hex(std::string(1, '\0')), "93b885adfe0da089cdf634904fd59f71");

  for (const std::string& text : {std::string(), withNuls, std::string(300, '\xff')}) {
    const std::string hex = Md5Hex(text);
    EXPECT_EQ(hex.size(), 32u);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
  }
}

TEST(Md5Test, ContextKeepsCountAndPendingBytesAndFinalWipesIt) {
  Md5Context context;
  md5Init(&context);
  std::string bytes(70, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i);
  md5Update(&context, nullptr, 0);
  md5Update(&context, reinterpret_cast<const unsigned char*>(bytes.data()), 70);
  md5Update(&context, nullptr, 0);
  EXPECT_EQ(context.count[0], 560u);
  EXPECT_EQ(context.count[1], 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(context.buffer), 6), bytes.substr(64));

  unsigned char digest[16];
  md5Final(digest, &context);
  EXPECT_EQ(md5ToHex(digest), Md5Hex(bytes));
  const auto* raw = reinterpret_cast<const unsigned char*>(&context);
  EXPECT_TRUE(std::all_of(raw, raw + sizeof context, [](unsigned char b) { return b == 0; }));

  // The low word of the bit count carries into the high word.
  md5Init(&context);
  context.count[0] = 0xfffffe00;
  md5Update(&context, reinterpret_cast<const unsigned char*>(bytes.data()), 64);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);
}

// Digests computed by an implementation written elsewhere: Debian's Python hashlib, or md5sum.
// Every input is one file in a scratch directory, and one process digests them all.
class Oracle {
 public:
  Oracle() {
    std::random_device seedless;
    directory_ = fs::temp_directory_path() / ("zv-md5-test-" + std::to_string(seedless()));
    fs::create_directories(directory_);
  }
  ~Oracle() {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  static std::string Command() {
#ifdef ZV_NO_HOST_PROGRAMS
    return "";  // the test runs in an emulator: the build host's programs are out of reach
#endif
    if (fs::exists("/usr/bin/python3")) {
      return "/usr/bin/python3 -c 'import hashlib,sys\n"
             "for p in sys.argv[1:]: print(hashlib.md5(open(p,\"rb\").read()).hexdigest())'";
    }
    for (const char* md5sum : {"/usr/bin/md5sum", "/bin/md5sum"}) {
      if (fs::exists(md5sum))
        return md5sum;
    }
    return "";
  }

  // One 32-digit digest per input, in order; empty when the oracle did not run.
  std::vector<std::string> Digests(const std::vector<std::string>& inputs) {
    std::string command = Command();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const fs::path file = directory_ / std::to_string(i);
      std::ofstream(file, std::ios::binary) << inputs[i];
      command += " '" + file.string() + "'";
    }
    const fs::path output = directory_ / "digests";
    if (std::system((command + " > '" + output.string() + "'").c_str()) != 0)
      return {};
    std::vector<std::string> digests;
    std::ifstream lines(output);
    for (std::string line; std::getline(lines, line);)
      digests.push_back(line.substr(0, 32));
    return digests;
  }

 private:
  fs::path directory_;
};

TEST(Md5Test, AgreesWithAnIndependentImplementation) {
  if (Oracle::Command().empty())
    GTEST_SKIP() << "neither /usr/bin/python3 nor md5sum is here";
  std::mt19937 random(1321);
  std::vector<std::string> inputs;
  std::uniform_int_distribution<std::size_t> shortLength(0, 300);
  for (int i = 0; i < 300; ++i)
    inputs.push_back(RandomBytes(random, shortLength(random)));
  const std::size_t firstLarge = inputs.size();
  for (std::size_t megabytes : {1, 2, 3}) {
    inputs.push_back(RandomBytes(random, (megabytes << 20) + megabytes * 7));
  }

  const std::vector<std::string> expected = Oracle().Digests(inputs);
  ASSERT_EQ(expected.size(), inputs.size()) << "the oracle did not digest every input";
  for (std::size_t i = 0; i < firstLarge; ++i) {
    EXPECT_EQ(Md5Hex(inputs[i]), expected[i]) << "input " << i << ", " << inputs[i].size() << " B";
  }
  // Large inputs in odd pieces, so buffered bytes meet whole blocks at every offset.
  const std::vector<std::size_t> pieceSizes = {1, 3, 63, 65, 4097, 64, 127, 65536, 1000003};
  for (std::size_t i = firstLarge; i < inputs.size(); ++i) {
    EXPECT_EQ(DigestOf(inputs[i], pieceSizes), expected[i]) << "input " << i << " in pieces";
  }
}

}  // namespace
