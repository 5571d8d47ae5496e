// Buffer codec speed and ratio: zlib, bzip2 and PPM on a text corpus and
// on random bytes, compressing and decompressing one 1 MiB buffer.
//
// The text corpus is /usr/share/common-licenses/* concatenated (repeated up
// to 1 MiB) when present, else generated word salad.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/base/compression.h"

namespace {

constexpr size_t kCorpusSize = 1 << 20;

std::vector<uint8_t> TextCorpus() {
  std::string text;
  const std::filesystem::path dir("/usr/share/common-licenses");
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::stringstream ss;
      ss << in.rdbuf();
      text += ss.str();
    }
  }
  if (text.empty()) {
    std::mt19937 rng(1);
    const char* words[] = {"the ", "record ", "table ", "index ", "page ", "memo\n", "value, ", "block ", "of ", "and "};
    while (text.size() < kCorpusSize) text += words[rng() % 10];
  }
  std::string out;
  while (out.size() < kCorpusSize) out += text;
  out.resize(kCorpusSize);
  return {out.begin(), out.end()};
}

std::vector<uint8_t> RandomCorpus() {
  std::mt19937 rng(2);
  std::vector<uint8_t> out(kCorpusSize);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

const std::vector<uint8_t>& Corpus(int which) {
  static const std::vector<uint8_t> text = TextCorpus();
  static const std::vector<uint8_t> random = RandomCorpus();
  return which == 0 ? text : random;
}

void BM_Compress(benchmark::State& state) {
  const auto alg = static_cast<orb::TORBCompressionAlgorithm>(state.range(0));
  const auto level = static_cast<uint8_t>(state.range(1));
  const std::vector<uint8_t>& in = Corpus(static_cast<int>(state.range(2)));
  std::vector<uint8_t> out;
  for (auto _ : state) {
    orb::ORBInternalCompressBuffer(alg, level, in.data(), static_cast<int64_t>(in.size()), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
  state.counters["ratio"] = static_cast<double>(out.size()) / static_cast<double>(in.size());
}

void BM_Decompress(benchmark::State& state) {
  const auto alg = static_cast<orb::TORBCompressionAlgorithm>(state.range(0));
  const auto level = static_cast<uint8_t>(state.range(1));
  const std::vector<uint8_t>& in = Corpus(static_cast<int>(state.range(2)));
  std::vector<uint8_t> packed;
  orb::ORBInternalCompressBuffer(alg, level, in.data(), static_cast<int64_t>(in.size()), packed);
  std::vector<uint8_t> out;
  for (auto _ : state) {
    int64_t size = static_cast<int64_t>(in.size());
    if (!orb::ORBInternalDecompressBuffer(alg, packed.data(), static_cast<int64_t>(packed.size()), out, size)) {
      state.SkipWithError("decode failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// Arguments: algorithm (1 zlib, 2 bzip2, 3 PPM), level, corpus (0 text, 1 random).
void CodecArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"alg", "level", "random"});
  for (int corpus : {0, 1}) {
    for (int alg : {1, 2, 3}) {
      for (int level : {1, 6, 9}) b->Args({alg, level, corpus});
    }
  }
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Compress)->Apply(CodecArgs);
BENCHMARK(BM_Decompress)->Apply(CodecArgs);

}  // namespace
