// orbdb blob: write a file as a compressed BLOB stream and read it back.
//
// A packed file holds the 32-byte BLOB descriptor followed by the BLOB's
// stored form (block headers and compressed blocks, or the plain content for
// "none"), the descriptor's StartPosition being 32.

#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/base/stream_compressed_blob.h"
#include "engine/base/stream_file.h"
#include "tools/orbdb/command.h"
#include "tools/orbdb/db_options.h"

namespace orbdb {
namespace {

constexpr int64_t kDescriptorSize = static_cast<int64_t>(orb::TORBBLOBDescriptor::kSize);
constexpr int64_t kCopyPiece = 1 << 20;
constexpr int32_t kPackedFileCode = 10081;

// Output is written to a temporary file beside the target and renamed over
// it only when complete; otherwise the temporary file is removed.
class PendingOutput {
 public:
  explicit PendingOutput(const std::string& target)
      : FTarget(target), FTemp(target + ".partial-" + std::to_string(getpid())) {
    FStream = std::make_unique<orb::TORBFileStream>(FTemp, orb::fmCreate, false);
  }
  ~PendingOutput() {
    FStream.reset();
    if (!FCommitted) orb::TPlatformFile::Delete(FTemp);
  }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  orb::TORBFileStream& stream() { return *FStream; }

  void Commit() {
    FStream.reset();
    const orb::PlatformStatus st = orb::TPlatformFile::Rename(FTemp, FTarget, true);
    if (!st.Ok()) orb::RaiseORB(10104, "Cannot create file. FileName = %s", {FTarget});
    FCommitted = true;
  }

 private:
  std::string FTarget;
  std::string FTemp;
  std::unique_ptr<orb::TORBFileStream> FStream;
  bool FCommitted = false;
};

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
  const orb::TORBCompressionAlgorithm algorithm = o.algorithm;
  const std::vector<std::string> files = {o.in, o.out};
  orb::TORBFileStream in(files[0], orb::fmOpenRead | orb::fmShareDenyWrite, false);
  PendingOutput out(files[1]);
  const std::vector<uint8_t> zeros(kDescriptorSize, 0);
  orb::SaveDataToStream(zeros.data(), kDescriptorSize, out.stream(), 10100);

  orb::TORBBLOBDescriptor d;
  d.BlockSize = static_cast<int32_t>(o.block_size);
  d.StartPosition = kDescriptorSize;
  d.CompressionAlgorithm = algorithm;
  d.CompressionMode = algorithm == orb::acaNone ? 0 : static_cast<uint8_t>(o.level);
  orb::TORBCompressedBLOBStream blob(out.stream(), d, true, false);
  const int64_t size = in.GetSize();
  std::vector<uint8_t> piece(static_cast<size_t>(std::min<int64_t>(kCopyPiece, std::max<int64_t>(size, 1))));
  for (int64_t done = 0; done < size;) {
    const int64_t n = std::min<int64_t>(size - done, static_cast<int64_t>(piece.size()));
    orb::LoadDataFromStream(piece.data(), n, in, 10148);
    orb::SaveDataToStream(piece.data(), n, blob, 10149);
    done += n;
  }
  uint8_t raw[orb::TORBBLOBDescriptor::kSize];
  blob.BLOBDescriptor().SaveTo(raw);
  orb::SetStreamPosition(out.stream(), 0, 10099);
  orb::SaveDataToStream(raw, kDescriptorSize, out.stream(), 10100);
  out.Commit();
  return 0;
}

struct UnpackOptions {
  std::string in;
  std::string out;
};

int Unpack(const UnpackOptions& o) {
  const std::vector<std::string> files = {o.in, o.out};
  orb::TORBFileStream in(files[0], orb::fmOpenRead | orb::fmShareDenyWrite, false);
  if (in.GetSize() < kDescriptorSize) orb::RaiseORB(kPackedFileCode, orb::kMsgStreamTooSmall, {in.GetSize(), kDescriptorSize});
  uint8_t raw[orb::TORBBLOBDescriptor::kSize];
  orb::LoadDataFromStream(raw, kDescriptorSize, in, kPackedFileCode);
  const orb::TORBBLOBDescriptor d = orb::TORBBLOBDescriptor::LoadFrom(raw);
  if (d.StartPosition != kDescriptorSize || d.CompressionAlgorithm > orb::acaPPM || d.CompressionMode > 9 ||
      d.UncompressedSize < 0) {
    orb::RaiseORB(10103, orb::kMsgCannotSetStreamPosition, {d.StartPosition, kDescriptorSize, in.GetSize()});
  }
  orb::TORBCompressedBLOBStream blob(in, d, false, false);
  PendingOutput out(files[1]);
  const int64_t size = blob.GetSize();
  std::vector<uint8_t> piece(static_cast<size_t>(std::min<int64_t>(kCopyPiece, std::max<int64_t>(size, 1))));
  for (int64_t done = 0; done < size;) {
    const int64_t n = std::min<int64_t>(size - done, static_cast<int64_t>(piece.size()));
    orb::LoadDataFromStream(piece.data(), n, blob, 10146);
    orb::SaveDataToStream(piece.data(), n, out.stream(), 10147);
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
