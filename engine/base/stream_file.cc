#include "engine/base/stream_file.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "engine/base/orb_exception.h"
#include "engine/platform/temp_file.h"

namespace orb {

namespace {

FileAccess AccessOf(uint16_t mode) {
  switch (mode & 0x0003) {
    case fmOpenWrite: return FileAccess::kWrite;
    case fmOpenReadWrite: return FileAccess::kReadWrite;
    default: return FileAccess::kRead;
  }
}

FileShare ShareOf(uint16_t mode) {
  switch (mode & 0x00F0) {
    case fmShareDenyNone: return FileShare::kDenyNone;
    case fmShareDenyWrite: return FileShare::kDenyWrite;
    default: return FileShare::kDenyAll;
  }
}

}  // namespace

TORBFileStream::TORBFileStream(const std::string& file_name, uint16_t mode, bool is_temporary)
    : FFileName(file_name), FMode(mode), FIsTemporary(is_temporary) {
  FBlockSize = DefaultFileBlockSize;
  if (mode == fmCreate) {
    const PlatformStatus st =
        FHandle.Open(file_name, FileAccess::kReadWrite, FileShare::kDenyAll, FileDisposition::kCreateAlways);
    if (!st.Ok()) RaiseORB(10104, "Cannot create file. FileName = %s", {file_name});
  } else {
    const PlatformStatus st = FHandle.Open(file_name, AccessOf(mode), ShareOf(mode), FileDisposition::kOpenExisting);
    if (!st.Ok()) RaiseORB(10105, "Cannot open file. FileName = %s, Mode = %d", {file_name, static_cast<int>(mode)});
  }
}

std::unique_ptr<TORBFileStream> TORBFileStream::CreateTemporary() {
  std::unique_ptr<TORBFileStream> stream(new TORBFileStream());
  stream->FIsTemporary = true;
  stream->FBlockSize = DefaultFileBlockSize;
  const PlatformStatus st = OpenTemporaryFile(stream->FHandle, "ORB");
  stream->FFileName = stream->FHandle.Path();
  if (!st.Ok()) RaiseORB(10104, "Cannot create file. FileName = %s", {TempDirectory() + "/ORB"});
  return stream;
}

TORBFileStream::~TORBFileStream() {
  FHandle.Close();
  // Named temporary files go with the stream; anonymous ones are already
  // unlinked.
  if (FIsTemporary && !FFileName.empty() && TPlatformFile::Exists(FFileName)) TPlatformFile::Delete(FFileName);
}

int64_t TORBFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition < 0) return 0;
  size_t done = 0;
  FHandle.ReadSomeAt(FPosition, buffer, static_cast<size_t>(count), &done);
  FPosition += static_cast<int64_t>(done);
  return static_cast<int64_t>(done);
}

int64_t TORBFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (!FHandle.WriteAt(FPosition, buffer, static_cast<size_t>(count)).Ok()) return 0;
  FPosition += count;
  FModified = true;
  return count;
}

int64_t TORBFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t target = offset;
  if (origin == soCurrent) target += FPosition;
  if (origin == soEnd) target += GetSize();
  if (target >= 0 && target < kShareSentinelOffset) FPosition = target;
  return FPosition;
}

void TORBFileStream::SetSize(int64_t new_size) {
  if (new_size < 0 || new_size >= kShareSentinelOffset) return;
  if (!FHandle.SetSize(new_size).Ok()) return;
  FModified = true;
  FPosition = std::min(FPosition, new_size);
}

int64_t TORBFileStream::GetSize() {
  int64_t size = 0;
  if (!FHandle.Size(&size).Ok()) return 0;
  return size;
}

}  // namespace orb
