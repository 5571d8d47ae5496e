#include "engine/platform/random.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

#include <random>

namespace orb {

namespace {

// Bumped in every forked child, so that it does not repeat its parent's
// sequence.
std::atomic<uint64_t> g_fork_generation{1};

void OnFork() { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }

struct ThreadRandom {
  uint64_t generation = 0;
  std::mt19937 engine;
};

std::mt19937& ThreadEngine() {
  static const bool registered = [] { return pthread_atfork(nullptr, nullptr, OnFork) == 0; }();
  thread_local ThreadRandom state;
  const uint64_t generation = g_fork_generation.load(std::memory_order_relaxed);
  // Without the fork handler the process id tells a child apart.
  const uint64_t current = registered ? generation : static_cast<uint64_t>(getpid()) << 32;
  if (state.generation != current) {
    std::random_device device;
    std::seed_seq seq{device(), device(), device(), device(), device(), device(), device(), device()};
    state.engine.seed(seq);
    state.generation = current;
  }
  return state.engine;
}

}  // namespace

int32_t RandomInt(int32_t range) {
  if (range <= 0) return 0;
  std::uniform_int_distribution<int32_t> dist(0, range - 1);
  return dist(ThreadEngine());
}

std::string NewGuidText() {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::random_device device;
  unsigned char bits[16];
  for (int i = 0; i < 16; i += 4) {
    uint32_t word = device();
    for (int j = 0; j < 4; ++j) bits[i + j] = static_cast<unsigned char>(word >> (8 * j));
  }
  std::string text = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[bits[i] >> 4];
    text += kHex[bits[i] & 15];
  }
  text += '}';
  return text;
}

}  // namespace orb
