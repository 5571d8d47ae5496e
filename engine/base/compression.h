#pragma once

// Compression algorithms and the buffer entry points behind compressed BLOB
// blocks and compressed internal files.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

enum TORBCompressionAlgorithm : uint8_t { acaNone = 0, acaZLIB = 1, acaBZIP = 2, acaPPM = 3 };

inline constexpr std::array<std::string_view, 4> ORBCompressionAlgorithmNames = {"NONE", "ZLIB", "BZIP", "PPM"};

enum TORBCompressionLevel : uint8_t { aclNone = 0, aclFastest = 1, aclNormal = 2, aclMaximum = 3 };

// Compression of a field: algorithm and codec level (CompressionMode, 1 to 9
// for BLOB fields, 0 for none).
struct TORBCompression {
  TORBCompressionAlgorithm CompressionAlgorithm = acaNone;
  uint8_t CompressionMode = 0;
  TORBCompressionLevel CompressionLevel = aclNone;
};

// Block sizes and limits of the engine streams (bytes).
inline constexpr int32_t DefaultMemoryBlockSize = 102400;
inline constexpr int32_t DefaultFileBlockSize = 102400;
inline constexpr int32_t DefaultTemporaryBlockSize = 102400;
inline constexpr int32_t DefaultTemporaryLimit = 1048576;
inline constexpr int32_t DefaultBLOBBlockSize = 102400;
inline constexpr int32_t BlockSizeForFastest = 524288;
inline constexpr int32_t BlockSizeForNormal = 1048576;
inline constexpr int32_t BlockSizeForMax = 1572864;

// Compresses `in_size` bytes with `algorithm` at codec level `mode` (zlib:
// compression level; bzip2: block size in 100k units; PPM: level, clamped to
// 1..9) into `out` (replaced). False, with `out` empty, for acaNone, an
// empty input or a codec failure; a zlib failure is kept for
// ORBCompressionGetLastError.
bool ORBInternalCompressBuffer(TORBCompressionAlgorithm algorithm, uint8_t mode, const void* in, int64_t in_size,
                               std::vector<uint8_t>& out);

// Decodes `in_size` bytes into `out` (replaced). `out_size` comes in as the
// expected decoded size and goes out as the actual one. Decoding stops one
// byte past the expected size, so an overlong block shows as a size
// mismatch without unbounded output; an expected size of 0 or less allows
// up to kMaxUnknownDecodedSize. False for acaNone, an empty input, a codec
// failure or an empty result.
bool ORBInternalDecompressBuffer(TORBCompressionAlgorithm algorithm, const void* in, int64_t in_size,
                                 std::vector<uint8_t>& out, int64_t& out_size);

inline constexpr int64_t kMaxUnknownDecodedSize = int64_t{1} << 31;

// The algorithm whose name equals `name` upper-cased; acaNone when none does.
TORBCompressionAlgorithm GetCompressionAlgorithm(std::string_view name);

// The last codec message recorded by this thread.
std::string ORBCompressionGetLastError();

}  // namespace orb
