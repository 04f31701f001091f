// MD5 throughput: Md5Hex on a 64-byte input (the size of a Digest authentication line) and on a
// 16 MB input, plus the streaming interface on 16 MB without Md5Hex's copy of its argument.
// bench/md5_ratio.sh sets these figures beside OpenSSL's.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "update/md5.h"

namespace {

std::string RandomText(std::size_t length) {
  std::mt19937 random(64);
  std::string text(length, '\0');
  for (char& c : text)
    c = static_cast<char>(random());
  return text;
}

void BM_Md5Hex(benchmark::State& state) {
  const std::string text = RandomText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(Md5Hex(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5Hex)->Arg(64)->Arg(16 << 20);

void BM_Md5Update(benchmark::State& state) {
  const std::string text = RandomText(static_cast<std::size_t>(state.range(0)));
  unsigned char digest[16];
  for (auto _ : state) {
    Md5Context context;
    md5Init(&context);
    md5Update(&context, reinterpret_cast<const unsigned char*>(text.data()),
              static_cast<unsigned int>(text.size()));
    md5Final(digest, &context);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5Update)->Arg(16 << 20);

}  // namespace

BENCHMARK_MAIN();
