#pragma once

// Deterministic sample contents for codec and stream tests.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace orb::test {

inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Word salad with punctuation and line breaks: compressible like prose.
inline std::vector<uint8_t> TextBytes(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "the",    "record", "table",   "index",  "page",    "memo",   "value", "block", "stream", "cursor",
      "commit", "lock",   "session", "field",  "buffer",  "header", "file",  "key",   "of",     "and",
      "to",     "is",     "a",       "when",   "written", "read",   "keeps", "every", "one",    "database"};
  std::mt19937 rng(seed);
  std::string text;
  text.reserve(size + 16);
  while (text.size() < size) {
    text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    const uint32_t r = rng() % 16;
    text += r == 0 ? ".\n" : r == 1 ? ", " : " ";
  }
  text.resize(size);
  return {text.begin(), text.end()};
}

}  // namespace orb::test
