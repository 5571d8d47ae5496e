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

std::vector<std::string> Positionals(const Args& args, size_t from, size_t count) {
  std::vector<std::string> out(args.begin() + static_cast<ptrdiff_t>(from), args.end());
  if (out.size() != count) throw UsageError{"expected " + std::to_string(count) + " file names"};
  return out;
}

int Pack(const Args& args) {
  orb::TORBCompressionAlgorithm algorithm = orb::acaZLIB;
  int64_t level = 6;
  int64_t block_size = 0;
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--algorithm") {
      const std::string& name = OptionValue(args, i);
      algorithm = orb::GetCompressionAlgorithm(name);
      std::string upper = name;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (algorithm == orb::acaNone && upper != orb::ORBCompressionAlgorithmNames[orb::acaNone]) {
        throw UsageError{"unknown algorithm '" + name + "'"};
      }
    } else if (a == "--level") {
      level = ParseNumber("--level", OptionValue(args, i), 1, 9);
    } else if (a == "--block-size") {
      block_size = ParseNumber("--block-size", OptionValue(args, i), 0, orb::BlockSizeForMax * 4);
    } else if (a.starts_with("--")) {
      throw UsageError{"unexpected argument '" + a + "'"};
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) throw UsageError{"expected IN and OUT"};

  orb::TORBFileStream in(files[0], orb::fmOpenRead | orb::fmShareDenyWrite, false);
  PendingOutput out(files[1]);
  const std::vector<uint8_t> zeros(kDescriptorSize, 0);
  orb::SaveDataToStream(zeros.data(), kDescriptorSize, out.stream(), 10100);

  orb::TORBBLOBDescriptor d;
  d.BlockSize = static_cast<int32_t>(block_size);
  d.StartPosition = kDescriptorSize;
  d.CompressionAlgorithm = algorithm;
  d.CompressionMode = algorithm == orb::acaNone ? 0 : static_cast<uint8_t>(level);
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

int Unpack(const Args& args) {
  const std::vector<std::string> files = Positionals(args, 1, 2);
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

int RunBlob(const Args& args) {
  if (args.empty()) throw UsageError{"missing pack or unpack"};
  if (args[0] == "pack") return Pack(args);
  if (args[0] == "unpack") return Unpack(args);
  throw UsageError{"unknown blob action '" + args[0] + "'"};
}

const Command kBlob{"blob",
                    "pack [--algorithm none|zlib|bzip|ppm] [--level 1-9] [--block-size BYTES] IN OUT | unpack IN OUT",
                    "write a file as a compressed BLOB stream, or read one back", RunBlob};

}  // namespace
}  // namespace orbdb
