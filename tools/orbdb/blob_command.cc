// orbdb blob: write a file as a compressed BLOB stream and read it back.
//
// A packed file:
//
//   offset  size  meaning
//   0       32    TORBBLOBDescriptor (StartPosition = 32)
//   32      rest  the BLOB's stored form: block headers and compressed
//                 blocks, or for "none" the content itself
//
// and nothing else: the stored form ends where the file ends.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/base/stream_compressed_blob.h"
#include "engine/base/stream_file.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/db_options.h"
#include "tools/orbdb/input_file.h"
#include "tools/orbdb/output_file.h"

namespace orbdb {
namespace {

constexpr int64_t kDescriptorSize = static_cast<int64_t>(orb::TORBBLOBDescriptor::kSize);
constexpr int64_t kCopyPiece = 1 << 20;
constexpr int32_t kPackedFileCode = 10081;

struct PackOptions {
  std::string in;
  std::string out;
  orb::TORBCompressionAlgorithm algorithm = orb::acaZLIB;
  int64_t level = 6;
  int64_t block_size = 0;
};

orb::TORBCompressionAlgorithm AlgorithmFromName(const std::string& name) {
  const orb::TORBCompressionAlgorithm algorithm = orb::GetCompressionAlgorithm(name);
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (algorithm == orb::acaNone && upper != orb::ORBCompressionAlgorithmNames[orb::acaNone]) {
    throw UsageError("unknown algorithm '" + name + "'");
  }
  return algorithm;
}

int Pack(const PackOptions& o) {
  TInputFile in(o.in);
  TOutputFile out(o.out);
  const std::vector<uint8_t> zeros(kDescriptorSize, 0);
  orb::SaveDataToStream(zeros.data(), kDescriptorSize, out.Stream(), 10100);

  orb::TORBBLOBDescriptor d;
  d.BlockSize = static_cast<int32_t>(o.block_size);
  d.StartPosition = kDescriptorSize;
  d.CompressionAlgorithm = o.algorithm;
  d.CompressionMode = o.algorithm == orb::acaNone ? 0 : static_cast<uint8_t>(o.level);
  orb::TORBCompressedBLOBStream blob(out.Stream(), d, true, false);
  // Read to the end: a pipe or a device has no size to go by.
  std::vector<uint8_t> piece(kCopyPiece);
  for (;;) {
    const int64_t n = in.ReadSome(piece.data(), kCopyPiece);
    if (n == 0) break;
    orb::SaveDataToStream(piece.data(), n, blob, 10149);
  }
  uint8_t raw[orb::TORBBLOBDescriptor::kSize];
  blob.BLOBDescriptor().SaveTo(raw);
  orb::SetStreamPosition(out.Stream(), 0, 10099);
  orb::SaveDataToStream(raw, kDescriptorSize, out.Stream(), 10100);
  out.Commit();
  return 0;
}

struct UnpackOptions {
  std::string in;
  std::string out;
};

// Where the stored form of `blob` ends in the packed file.
int64_t StoredEnd(orb::TORBCompressedBLOBStream& blob) {
  const orb::TORBBLOBDescriptor& d = blob.BLOBDescriptor();
  if (d.CompressionAlgorithm == orb::acaNone) return kDescriptorSize + d.UncompressedSize;
  const orb::TORBCompressedStreamBlockHeadersArray& headers = blob.Headers();
  const int64_t n = headers.ItemCount();
  return n == 0 ? kDescriptorSize : headers.Positions(n - 1) + headers.Items(n - 1).OffsetToNextHeader;
}

int Unpack(const UnpackOptions& o) {
  orb::TORBFileStream in(o.in, orb::fmOpenRead | orb::fmShareDenyWrite, false);
  const int64_t file_size = in.GetSize();
  if (file_size < kDescriptorSize) orb::RaiseORB(kPackedFileCode, orb::kMsgStreamTooSmall, {file_size, kDescriptorSize});
  uint8_t raw[orb::TORBBLOBDescriptor::kSize];
  orb::LoadDataFromStream(raw, kDescriptorSize, in, kPackedFileCode);
  const orb::TORBBLOBDescriptor d = orb::TORBBLOBDescriptor::LoadFrom(raw);
  if (d.StartPosition != kDescriptorSize || d.CompressionAlgorithm > orb::acaPPM || d.CompressionMode > 9 ||
      d.UncompressedSize < 0) {
    orb::RaiseORB(10103, orb::kMsgCannotSetStreamPosition, {d.StartPosition, kDescriptorSize, file_size});
  }
  // The stream checks that the blocks hold the stated size; the packed file
  // must hold nothing after them either, or the descriptor was altered.
  orb::TORBCompressedBLOBStream blob(in, d, false, false);
  const int64_t end = StoredEnd(blob);
  if (end != file_size) {
    orb::RaiseORB(orb::kErrPackedFileSize, "Packed file size mismatch. FileSize = %d, BLOB ends at %d",
                  {file_size, end});
  }
  TOutputFile out(o.out);
  const int64_t size = blob.GetSize();
  std::vector<uint8_t> piece(static_cast<size_t>(std::min<int64_t>(kCopyPiece, std::max<int64_t>(size, 1))));
  for (int64_t done = 0; done < size;) {
    const int64_t n = std::min<int64_t>(size - done, static_cast<int64_t>(piece.size()));
    orb::LoadDataFromStream(piece.data(), n, blob, 10146);
    orb::SaveDataToStream(piece.data(), n, out.Stream(), 10147);
    done += n;
  }
  out.Commit();
  return 0;
}

void AddBlobCommand(CLI::App& app) {
  CLI::App* blob = app.add_subcommand("blob", "write a file as a compressed BLOB stream, or read one back");
  blob->require_subcommand(1);

  CLI::App* pack = blob->add_subcommand("pack", "write IN as a compressed BLOB stream to OUT");
  auto pack_options = std::make_shared<PackOptions>();
  pack->add_option_function<std::string>(
          "--algorithm", [o = pack_options.get()](const std::string& name) { o->algorithm = AlgorithmFromName(name); },
          "none, zlib, bzip or ppm (default zlib)")
      ->type_name("NAME");
  AddNumberOption(pack, "--level", &pack_options->level, 1, 9, "compression level (default 6)");
  AddNumberOption(pack, "--block-size", &pack_options->block_size, 0, orb::BlockSizeForMax * 4,
                  "bytes per block (default: by level)");
  pack->add_option("IN", pack_options->in, "the file to pack")->required();
  pack->add_option("OUT", pack_options->out, "the packed file")->required();
  OnRun(pack, [pack_options] { return Pack(*pack_options); });

  CLI::App* unpack = blob->add_subcommand("unpack", "write the content of packed file IN to OUT");
  auto unpack_options = std::make_shared<UnpackOptions>();
  unpack->add_option("IN", unpack_options->in, "the packed file")->required();
  unpack->add_option("OUT", unpack_options->out, "the content")->required();
  OnRun(unpack, [unpack_options] { return Unpack(*unpack_options); });
}

const CommandRegistration kBlob{"blob", AddBlobCommand};

}  // namespace
}  // namespace orbdb
