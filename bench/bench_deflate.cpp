// Deflate and inflate throughput. The data is the file named by
// ZOT_DEFLATE_CORPUS (bench/deflate_vs_zlib.py passes the same file to
// python3's zlib for comparison), else a generated text-like megabyte.
// ZOT_DEFLATE_OUT names a file that receives the compressed stream.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/deflate.h"

namespace {

using Bytes = std::vector<zot::u8>;

const Bytes& corpus() {
  static Bytes data = [] {
    if (const char* path = std::getenv("ZOT_DEFLATE_CORPUS")) {
      std::ifstream f(path, std::ios::binary);
      return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::mt19937 g(1);
    const char* words[] = {"zot ", "series ", "value ", "block ", "a ", "the ", "frame ", "\n"};
    Bytes b;
    while (b.size() < (1u << 20)) {
      const char* w = words[g() % 8];
      b.insert(b.end(), w, w + std::char_traits<char>::length(w));
    }
    return b;
  }();
  return data;
}

Bytes packed(int (*f)(zot::u8*, std::size_t*, const zot::u8*, std::size_t)) {
  const Bytes& in = corpus();
  std::size_t n = in.size() + in.size() / 4 + 64;
  Bytes out(n);
  f(out.data(), &n, in.data(), in.size());
  out.resize(n);
  return out;
}

void BM_Compress(benchmark::State& st) {
  const Bytes& in = corpus();
  Bytes out(in.size() + in.size() / 4 + 64);
  std::size_t n = 0;
  for (auto _ : st) {
    n = out.size();
    zot::deflate::compress_zlib(out.data(), &n, in.data(), in.size());
    benchmark::DoNotOptimize(out.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(in.size()));
  st.counters["ratio"] = double(n) / double(in.size());
  // The stream itself, for a check by another implementation.
  if (const char* path = std::getenv("ZOT_DEFLATE_OUT"))
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), std::streamsize(n));
}
BENCHMARK(BM_Compress)->Unit(benchmark::kMillisecond);

void BM_Decompress(benchmark::State& st) {
  const Bytes& in = corpus();
  Bytes z = packed(zot::deflate::compress_zlib);
  Bytes out(in.size());
  for (auto _ : st) {
    std::size_t n = out.size();
    zot::deflate::decompress_zlib(out.data(), &n, z.data(), z.size());
    benchmark::DoNotOptimize(out.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Decompress)->Unit(benchmark::kMillisecond);

// Inflating a stream of another encoder (dynamic blocks), when one is given.
void BM_DecompressForeign(benchmark::State& st) {
  const char* path = std::getenv("ZOT_DEFLATE_FOREIGN");
  if (!path) {
    st.SkipWithError("ZOT_DEFLATE_FOREIGN not set");
    return;
  }
  std::ifstream f(path, std::ios::binary);
  Bytes z((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  Bytes out(corpus().size());
  for (auto _ : st) {
    std::size_t n = out.size();
    if (zot::deflate::decompress_zlib(out.data(), &n, z.data(), z.size()) != zot::deflate::kOk) {
      st.SkipWithError("foreign stream refused");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(corpus().size()));
}
BENCHMARK(BM_DecompressForeign)->Unit(benchmark::kMillisecond);

void BM_Crc32(benchmark::State& st) {
  const Bytes& in = corpus();
  for (auto _ : st) benchmark::DoNotOptimize(zot::checksum::crc32(in.data(), in.size()));
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Crc32);

void BM_Adler32(benchmark::State& st) {
  const Bytes& in = corpus();
  for (auto _ : st) benchmark::DoNotOptimize(zot::checksum::adler32(in.data(), in.size()));
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_Adler32);

}  // namespace
