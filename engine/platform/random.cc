#include "engine/platform/random.h"

#include <unistd.h>

#include <random>

namespace orb {

namespace {

struct ThreadRandom {
  pid_t pid = -1;
  std::mt19937 engine;
};

std::mt19937& ThreadEngine() {
  thread_local ThreadRandom state;
  pid_t pid = getpid();
  if (state.pid != pid) {
    // First use in this thread, or a forked child that must not repeat its
    // parent's sequence.
    std::random_device device;
    std::seed_seq seq{device(), device(), device(), device(), device(), device(), device(), device()};
    state.engine.seed(seq);
    state.pid = pid;
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
