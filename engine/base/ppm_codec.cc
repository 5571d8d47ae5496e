#include "engine/base/ppm_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orb {

namespace {

constexpr uint32_t kTop = 1u << 24;
constexpr uint32_t kNoNode = 0xFFFFFFFFu;
constexpr uint16_t kMaxFreq = 250;  // a symbol above this halves its context

// Range encoder with carry propagation (64-bit low, 32-bit range).
class RangeEncoder {
 public:
  explicit RangeEncoder(std::vector<uint8_t>& out) : FOut(out) {}

  void Encode(uint32_t start, uint32_t size, uint32_t total) {
    const uint32_t r = FRange / total;
    FLow += static_cast<uint64_t>(r) * start;
    FRange = r * size;
    while (FRange < kTop) {
      FRange <<= 8;
      ShiftLow();
    }
  }

  void Flush() {
    for (int i = 0; i < 5; ++i) ShiftLow();
  }

 private:
  void ShiftLow() {
    if (static_cast<uint32_t>(FLow) < 0xFF000000u || (FLow >> 32) != 0) {
      const uint8_t carry = static_cast<uint8_t>(FLow >> 32);
      uint8_t temp = FCache;
      do {
        FOut.push_back(static_cast<uint8_t>(temp + carry));
        temp = 0xFF;
      } while (--FCacheSize != 0);
      FCache = static_cast<uint8_t>(FLow >> 24);
    }
    ++FCacheSize;
    FLow = (FLow & 0x00FFFFFFu) << 8;
  }

  std::vector<uint8_t>& FOut;
  uint64_t FLow = 0;
  uint32_t FRange = 0xFFFFFFFFu;
  uint8_t FCache = 0;
  uint64_t FCacheSize = 1;
};

// Matching decoder. Any inconsistency (running out of input, a value outside
// the coded total) sets failed() and is reported by the caller.
class RangeDecoder {
 public:
  RangeDecoder(const uint8_t* p, const uint8_t* end) : FPos(p), FEnd(end) {
    for (int i = 0; i < 5; ++i) FCode = (FCode << 8) | NextByte();
  }

  // Returns the cumulative frequency the next symbol falls on.
  uint32_t GetFreq(uint32_t total) {
    // Damaged input can escape past every symbol: nothing left to code.
    if (total == 0) {
      FFailed = true;
      return 0;
    }
    FStep = FRange / total;
    const uint32_t v = FCode / FStep;
    if (v >= total) {
      FFailed = true;
      return 0;
    }
    return v;
  }

  void Decode(uint32_t start, uint32_t size) {
    FCode -= FStep * start;
    FRange = FStep * size;
    while (FRange < kTop) {
      FCode = (FCode << 8) | NextByte();
      FRange <<= 8;
    }
  }

  bool failed() const { return FFailed; }
  bool AtEnd() const { return FPos == FEnd; }

 private:
  uint32_t NextByte() {
    if (FPos == FEnd) {
      FFailed = true;
      return 0;
    }
    return *FPos++;
  }

  const uint8_t* FPos;
  const uint8_t* FEnd;
  uint32_t FCode = 0;
  uint32_t FRange = 0xFFFFFFFFu;
  uint32_t FStep = 1;
  bool FFailed = false;
};

struct State {
  uint8_t symbol;
  uint16_t freq;
  uint32_t successor;  // context after this symbol; 0 = none (max order)
};

struct Node {
  uint32_t suffix;  // context one order shorter; kNoNode for the root
  uint32_t stats;   // first State in the pool
  uint32_t sum;     // sum of the states' frequencies
  uint16_t count;   // states in use
  uint16_t capacity;
  uint8_t order;
};

// The context model shared by encoder and decoder. Contexts form a suffix
// trie: node C holds the symbols seen after the string C, each state points
// to the node of C followed by its symbol, and every node points to the node
// of its string without the first byte. A symbol present in a context is
// present in all its suffixes, so every state below the maximum order has a
// successor node.
class Model {
 public:
  Model(int order, size_t budget_bytes) : FMaxOrder(order), FBudget(budget_bytes) {
    const size_t per_symbol_states = static_cast<size_t>(order + 1) * 512;
    FMargin = per_symbol_states * sizeof(State) + static_cast<size_t>(order + 2) * sizeof(Node);
    Reset();
  }

  template <typename Coder>
  bool EncodeSymbol(Coder& enc, uint8_t symbol) {
    BeginSymbol();
    uint32_t ctx = FCurrent;
    while (ctx != kNoNode) {
      const Node& n = FNodes[ctx];
      uint32_t cum = 0, start = 0, freq = 0, distinct = 0;
      int hit = -1;
      for (uint32_t i = 0; i < n.count; ++i) {
        const State& st = FStates[n.stats + i];
        if (FExcluded[st.symbol] == FStamp) continue;
        if (st.symbol == symbol) {
          start = cum;
          freq = st.freq;
          hit = static_cast<int>(i);
        }
        cum += st.freq;
        ++distinct;
      }
      if (hit >= 0) {
        enc.Encode(start, freq, cum + distinct);
        Update(ctx, static_cast<uint32_t>(hit), symbol);
        return true;
      }
      if (distinct > 0) enc.Encode(cum, distinct, cum + distinct);
      ctx = Escape(ctx);
    }
    uint32_t below = 0;
    for (int c = 0; c < symbol; ++c) below += FExcluded[c] != FStamp;
    enc.Encode(below, 1, 256 - FExcludedCount);
    Update(kNoNode, 0, symbol);
    return true;
  }

  bool DecodeSymbol(RangeDecoder& dec, uint8_t* symbol) {
    BeginSymbol();
    uint32_t ctx = FCurrent;
    while (ctx != kNoNode) {
      const Node& n = FNodes[ctx];
      uint32_t cum = 0, distinct = 0;
      for (uint32_t i = 0; i < n.count; ++i) {
        const State& st = FStates[n.stats + i];
        if (FExcluded[st.symbol] == FStamp) continue;
        cum += st.freq;
        ++distinct;
      }
      if (distinct > 0) {
        const uint32_t v = dec.GetFreq(cum + distinct);
        if (dec.failed()) return false;
        if (v < cum) {
          uint32_t acc = 0;
          for (uint32_t i = 0; i < n.count; ++i) {
            const State& st = FStates[n.stats + i];
            if (FExcluded[st.symbol] == FStamp) continue;
            if (v < acc + st.freq) {
              dec.Decode(acc, st.freq);
              *symbol = st.symbol;
              Update(ctx, i, st.symbol);
              return !dec.failed();
            }
            acc += st.freq;
          }
          return false;  // unreachable: v < cum
        }
        dec.Decode(cum, distinct);
        if (dec.failed()) return false;
      }
      ctx = Escape(ctx);
    }
    const uint32_t v = dec.GetFreq(256 - FExcludedCount);
    if (dec.failed()) return false;
    uint32_t seen = 0;
    for (int c = 0; c < 256; ++c) {
      if (FExcluded[c] == FStamp) continue;
      if (seen == v) {
        dec.Decode(v, 1);
        *symbol = static_cast<uint8_t>(c);
        Update(kNoNode, 0, *symbol);
        return !dec.failed();
      }
      ++seen;
    }
    return false;  // unreachable: v < non-excluded count
  }

 private:
  void Reset() {
    FNodes.clear();
    FStates.clear();
    FNodes.push_back(Node{kNoNode, 0, 0, 0, 0, 0});
    FCurrent = 0;
  }

  size_t UsedBytes() const { return FNodes.size() * sizeof(Node) + FStates.size() * sizeof(State); }

  void BeginSymbol() {
    if (UsedBytes() + FMargin > FBudget) Reset();
    if (++FStamp == 0) {
      FExcluded.fill(0);
      FStamp = 1;
    }
    FExcludedCount = 0;
    FPathLength = 0;
  }

  // Excludes the context's symbols and returns the context to try next.
  uint32_t Escape(uint32_t ctx) {
    const Node& n = FNodes[ctx];
    for (uint32_t i = 0; i < n.count; ++i) {
      const uint8_t s = FStates[n.stats + i].symbol;
      if (FExcluded[s] != FStamp) {
        FExcluded[s] = FStamp;
        ++FExcludedCount;
      }
    }
    FPath[FPathLength++] = ctx;
    return n.suffix;
  }

  uint32_t NewNode(uint8_t order, uint32_t suffix) {
    FNodes.push_back(Node{suffix, 0, 0, 0, 0, order});
    return static_cast<uint32_t>(FNodes.size() - 1);
  }

  void AddState(uint32_t ctx, uint8_t symbol, uint32_t successor) {
    Node& n = FNodes[ctx];
    if (n.count == n.capacity) {
      const uint16_t cap = n.capacity == 0 ? 1 : static_cast<uint16_t>(std::min(n.capacity * 2, 256));
      const uint32_t at = static_cast<uint32_t>(FStates.size());
      FStates.resize(FStates.size() + cap);
      std::copy_n(FStates.begin() + n.stats, n.count, FStates.begin() + at);
      n.stats = at;
      n.capacity = cap;
    }
    FStates[n.stats + n.count] = State{symbol, 1, successor};
    ++n.count;
    n.sum += 1;
  }

  void Rescale(uint32_t ctx) {
    Node& n = FNodes[ctx];
    n.sum = 0;
    for (uint32_t i = 0; i < n.count; ++i) {
      State& st = FStates[n.stats + i];
      st.freq = static_cast<uint16_t>((st.freq + 1) / 2);
      n.sum += st.freq;
    }
  }

  uint32_t SuccessorOf(uint32_t ctx, uint8_t symbol) const {
    const Node& n = FNodes[ctx];
    for (uint32_t i = 0; i < n.count; ++i) {
      if (FStates[n.stats + i].symbol == symbol) return FStates[n.stats + i].successor;
    }
    return 0;
  }

  // `found` is the context that coded the symbol (state index `hit`), or
  // kNoNode when it was coded below order 0. Every context escaped from
  // gets the symbol, with a new successor node below the maximum order.
  void Update(uint32_t found, uint32_t hit, uint8_t symbol) {
    uint32_t lower = 0;
    if (found != kNoNode) {
      Node& n = FNodes[found];
      State& st = FStates[n.stats + hit];
      st.freq = static_cast<uint16_t>(st.freq + 2);
      n.sum += 2;
      lower = st.successor;
      if (st.freq > kMaxFreq) Rescale(found);
    }
    for (int j = FPathLength - 1; j >= 0; --j) {
      const uint32_t ctx = FPath[j];
      const uint8_t order = FNodes[ctx].order;
      uint32_t successor = 0;
      if (order < FMaxOrder) successor = NewNode(static_cast<uint8_t>(order + 1), order == 0 ? 0 : lower);
      AddState(ctx, symbol, successor);
      lower = successor;
    }
    const Node& top = FNodes[FCurrent];
    FCurrent = top.order < FMaxOrder ? SuccessorOf(FCurrent, symbol) : SuccessorOf(top.suffix, symbol);
  }

  int FMaxOrder;
  size_t FBudget;
  size_t FMargin = 0;
  std::vector<Node> FNodes;
  std::vector<State> FStates;
  uint32_t FCurrent = 0;
  std::array<uint32_t, 256> FExcluded{};
  uint32_t FStamp = 0;
  uint32_t FExcludedCount = 0;
  std::array<uint32_t, kPpmMaxOrder + 1> FPath{};
  int FPathLength = 0;
};

}  // namespace

PpmParameters PpmParametersForLevel(int level) {
  static constexpr PpmParameters kLevels[9] = {
      {3, 2}, {4, 4}, {4, 8}, {5, 16}, {5, 24}, {6, 32}, {6, 64}, {7, 96}, {8, 128},
  };
  return kLevels[std::clamp(level, 1, 9) - 1];
}

void PpmCompress(const uint8_t* data, size_t size, int level, std::vector<uint8_t>& out) {
  const PpmParameters params = PpmParametersForLevel(level);
  out.clear();
  out.reserve(kPpmHeaderSize + size / 2 + 16);
  out.push_back(kPpmFormatTag);
  out.push_back(static_cast<uint8_t>(params.order));
  out.push_back(static_cast<uint8_t>(params.model_mib));
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(size) >> (8 * i)));
  RangeEncoder enc(out);
  Model model(params.order, static_cast<size_t>(params.model_mib) << 20);
  for (size_t i = 0; i < size; ++i) model.EncodeSymbol(enc, data[i]);
  enc.Flush();
  if (out.size() > kPpmHeaderSize + size) {
    out.resize(kPpmHeaderSize);
    out[0] = kPpmStoredTag;
    out.insert(out.end(), data, data + size);
  }
}

bool PpmDecompress(const uint8_t* data, size_t size, size_t max_size, std::vector<uint8_t>& out) {
  out.clear();
  if (data == nullptr || size < kPpmHeaderSize) return false;
  if (data[0] != kPpmFormatTag && data[0] != kPpmStoredTag) return false;
  const int order = data[1];
  const int model_mib = data[2];
  if (order < 1 || order > kPpmMaxOrder || model_mib < 1 || model_mib > kPpmMaxModelMiB) return false;
  uint64_t length = 0;
  for (int i = 0; i < 8; ++i) length |= static_cast<uint64_t>(data[3 + i]) << (8 * i);
  if (length > max_size) return false;
  if (data[0] == kPpmStoredTag) {
    if (length != size - kPpmHeaderSize) return false;
    out.assign(data + kPpmHeaderSize, data + size);
    return true;
  }
  if (size < kPpmHeaderSize + 5) return false;  // the coder's first bytes
  RangeDecoder dec(data + kPpmHeaderSize, data + size);
  Model model(order, static_cast<size_t>(model_mib) << 20);
  // Reserve by the input's worth only; a lying length cannot force memory.
  out.reserve(std::min<uint64_t>(length, static_cast<uint64_t>(size) * 4));
  for (uint64_t i = 0; i < length; ++i) {
    uint8_t symbol = 0;
    if (!model.DecodeSymbol(dec, &symbol)) return false;
    out.push_back(symbol);
  }
  return !dec.failed() && dec.AtEnd();
}

}  // namespace orb
