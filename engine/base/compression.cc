#include "engine/base/compression.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <climits>

#include "engine/base/ppm_codec.h"

namespace orb {

namespace {

thread_local std::string g_last_error;

// Output grows by at most this much per step, so memory follows the bytes
// a decoder actually produces.
constexpr size_t kDecodeStep = size_t{1} << 20;

void RecordZlibError(int code, const z_stream& zs) {
  g_last_error = zs.msg != nullptr ? zs.msg : zError(code);
}

bool ZlibCompress(int level, const uint8_t* in, size_t in_size, std::vector<uint8_t>& out) {
  if (in_size > UINT_MAX) return false;
  z_stream zs{};
  int rc = deflateInit(&zs, level);
  if (rc != Z_OK) {
    RecordZlibError(rc, zs);
    return false;
  }
  out.resize(deflateBound(&zs, static_cast<uLong>(in_size)));
  zs.next_in = const_cast<Bytef*>(in);
  zs.avail_in = static_cast<uInt>(in_size);
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  rc = deflate(&zs, Z_FINISH);
  if (rc != Z_STREAM_END) {
    RecordZlibError(rc == Z_OK ? Z_BUF_ERROR : rc, zs);
    deflateEnd(&zs);
    return false;
  }
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return true;
}

bool ZlibDecompress(const uint8_t* in, size_t in_size, size_t limit, std::vector<uint8_t>& out) {
  if (in_size > UINT_MAX) return false;
  z_stream zs{};
  int rc = inflateInit(&zs);
  if (rc != Z_OK) {
    RecordZlibError(rc, zs);
    return false;
  }
  zs.next_in = const_cast<Bytef*>(in);
  zs.avail_in = static_cast<uInt>(in_size);
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() >= limit) break;
      out.resize(std::min(limit, out.size() + std::min(kDecodeStep, std::max<size_t>(in_size * 4, 4096))));
    }
    zs.next_out = out.data() + produced;
    zs.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - produced, UINT_MAX));
    const uInt before = zs.avail_out;
    rc = inflate(&zs, Z_NO_FLUSH);
    produced += before - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && !(rc == Z_BUF_ERROR && zs.avail_out == 0)) {
      RecordZlibError(rc == Z_BUF_ERROR ? Z_DATA_ERROR : rc, zs);
      inflateEnd(&zs);
      return false;
    }
  }
  const bool complete = rc == Z_STREAM_END && zs.avail_in == 0;
  if (!complete && rc != Z_STREAM_END && produced < limit) RecordZlibError(Z_DATA_ERROR, zs);
  inflateEnd(&zs);
  out.resize(produced);
  // Stopping at the limit leaves an overlong block to the size check.
  return complete || (produced == limit && rc != Z_STREAM_END);
}

bool BzipCompress(int block_size, const uint8_t* in, size_t in_size, std::vector<uint8_t>& out) {
  if (in_size > UINT_MAX / 2) return false;
  unsigned int dest_size = static_cast<unsigned int>(in_size + in_size / 100 + 600);
  out.resize(dest_size);
  const int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &dest_size,
                                          const_cast<char*>(reinterpret_cast<const char*>(in)),
                                          static_cast<unsigned int>(in_size), block_size, 0, 0);
  if (rc != BZ_OK) return false;
  out.resize(dest_size);
  return true;
}

bool BzipDecompress(const uint8_t* in, size_t in_size, size_t limit, std::vector<uint8_t>& out) {
  if (in_size > UINT_MAX) return false;
  bz_stream bs{};
  if (BZ2_bzDecompressInit(&bs, 0, 0) != BZ_OK) return false;
  bs.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
  bs.avail_in = static_cast<unsigned int>(in_size);
  size_t produced = 0;
  int rc = BZ_OK;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() >= limit) break;
      out.resize(std::min(limit, out.size() + std::min(kDecodeStep, std::max<size_t>(in_size * 8, 4096))));
    }
    bs.next_out = reinterpret_cast<char*>(out.data() + produced);
    bs.avail_out = static_cast<unsigned int>(std::min<size_t>(out.size() - produced, UINT_MAX));
    const unsigned int before = bs.avail_out;
    const unsigned int in_before = bs.avail_in;
    rc = BZ2_bzDecompress(&bs);
    produced += before - bs.avail_out;
    if (rc == BZ_STREAM_END) break;
    if (rc != BZ_OK) break;
    // No progress with input exhausted: truncated stream.
    if (bs.avail_in == 0 && in_before == 0 && before == bs.avail_out) {
      rc = BZ_UNEXPECTED_EOF;
      break;
    }
  }
  BZ2_bzDecompressEnd(&bs);
  out.resize(produced);
  if (rc == BZ_STREAM_END) return bs.avail_in == 0;
  return rc == BZ_OK && produced == limit;
}

}  // namespace

bool ORBInternalCompressBuffer(TORBCompressionAlgorithm algorithm, uint8_t mode, const void* in, int64_t in_size,
                               std::vector<uint8_t>& out) {
  out.clear();
  if (algorithm == acaNone || in == nullptr || in_size <= 0) return false;
  const auto* data = static_cast<const uint8_t*>(in);
  const auto size = static_cast<size_t>(in_size);
  bool ok = false;
  try {
    switch (algorithm) {
      case acaZLIB:
        ok = ZlibCompress(mode, data, size, out);
        break;
      case acaBZIP:
        ok = BzipCompress(mode, data, size, out);
        break;
      case acaPPM:
        PpmCompress(data, size, std::clamp<int>(mode, 1, 9), out);
        ok = true;
        break;
      default:
        break;
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok || out.empty()) {
    out.clear();
    return false;
  }
  return true;
}

bool ORBInternalDecompressBuffer(TORBCompressionAlgorithm algorithm, const void* in, int64_t in_size,
                                 std::vector<uint8_t>& out, int64_t& out_size) {
  out.clear();
  const int64_t expected = out_size;
  out_size = 0;
  if (algorithm == acaNone || in == nullptr || in_size <= 0) return false;
  const size_t limit = static_cast<size_t>(
      expected > 0 ? std::min<int64_t>(expected, kMaxUnknownDecodedSize - 1) + 1 : kMaxUnknownDecodedSize);
  const auto* data = static_cast<const uint8_t*>(in);
  const auto size = static_cast<size_t>(in_size);
  bool ok = false;
  try {
    switch (algorithm) {
      case acaZLIB:
        ok = ZlibDecompress(data, size, limit, out);
        break;
      case acaBZIP:
        ok = BzipDecompress(data, size, limit, out);
        break;
      case acaPPM:
        ok = PpmDecompress(data, size, limit, out);
        break;
      default:
        break;
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok || out.empty()) {
    out.clear();
    return false;
  }
  out_size = static_cast<int64_t>(out.size());
  return true;
}

TORBCompressionAlgorithm GetCompressionAlgorithm(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (size_t i = 0; i < ORBCompressionAlgorithmNames.size(); ++i) {
    if (ORBCompressionAlgorithmNames[i] == upper) return static_cast<TORBCompressionAlgorithm>(i);
  }
  return acaNone;
}

std::string ORBCompressionGetLastError() { return g_last_error; }

}  // namespace orb
