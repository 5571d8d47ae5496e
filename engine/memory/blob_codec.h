#pragma once

// BLOB values of in-memory and temporary tables: compressed by the field's
// definition, handed out as streams over a private copy, and moved between
// tables in their stored form.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/field_defs.h"
#include "engine/base/stream.h"
#include "engine/base/stream_compressed_blob.h"

namespace orb {

inline constexpr int32_t kErrBlobBlockSizeZero = 10420;

// One BLOB value as stored: descriptor plus the compressed BLOB stream's
// stored form (block headers and codec output), starting at offset 0.
struct TORBStoredBLOB {
  TORBPartialBLOBDescriptor Descriptor;
  std::vector<uint8_t> StoredForm;
};

// Compresses `source` from position 0 to its end with the field's block
// size, algorithm and mode. 10420 for a block size of 0.
TORBStoredBLOB CompressBLOB(const TORBFieldDef& field, TStream& source);

// A stream of the value's content over a private copy of `stored` (an
// empty value when null). Reading never touches `stored` again.
std::unique_ptr<TStream> OpenBLOBStream(const TORBFieldDef& field, const TORBStoredBLOB* stored);

// Direct BLOB data: empty for a null value, else the 20-byte
// TORBPartialTemporaryBLOBDescriptor followed by CompressedSize bytes of
// stored form:
// | offset | size | meaning                                       |
// |      0 |    4 | NumBlocks (int32)                             |
// |      4 |    8 | UncompressedSize (int64)                      |
// |     12 |    8 | CompressedSize (int64): bytes of stored form  |
// |     20 |    n | stored form                                   |
std::vector<uint8_t> PackDirectBLOB(const TORBPartialBLOBDescriptor& descriptor, const uint8_t* stored_form,
                                    int64_t size);
// False for empty (null) data; 30783 when the length disagrees.
bool UnpackDirectBLOB(const std::vector<uint8_t>& data, TORBStoredBLOB& stored);

// The field is a BLOB, CLOB or wide CLOB.
bool IsBlobField(const TORBFieldDef& field);

}  // namespace orb
