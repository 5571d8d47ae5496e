#include "engine/base/stream_temporary.h"

#include <algorithm>
#include <vector>


namespace orb {

namespace {
constexpr int32_t kSpillWriteCode = 10147;
constexpr int32_t kSpillReadCode = 10146;
}  // namespace

TORBTemporaryStream::TORBTemporaryStream(bool disable_temp_files)
    : FMemoryLimit(DefaultTemporaryLimit),
      FMemoryStream(std::make_unique<TORBMemoryStream>()),
      FDisableTempFiles(disable_temp_files) {
  FBlockSize = DefaultTemporaryBlockSize;
}

TStream& TORBTemporaryStream::Active() {
  if (FInMemory) return *FMemoryStream;
  return *FFileStream;
}

// Copies the memory content to a new temporary file, keeping the position.
void TORBTemporaryStream::MoveToFile() {
  std::unique_ptr<TORBFileStream> file = TORBFileStream::CreateTemporary();
  const int64_t position = FMemoryStream->GetPosition();
  SaveDataToStream(FMemoryStream->Memory(), FMemoryStream->GetSize(), *file, kSpillWriteCode);
  SetStreamPosition(*file, position, kSpillReadCode);
  FFileStream = std::move(file);
  FMemoryStream.reset();
  FInMemory = false;
}

int64_t TORBTemporaryStream::Read(void* buffer, int64_t count) { return Active().Read(buffer, count); }

int64_t TORBTemporaryStream::Write(const void* buffer, int64_t count) {
  if (FInMemory && !FDisableTempFiles && count > 0) {
    const int64_t end = FMemoryStream->GetPosition() + count;
    if (end > FMemoryLimit && end > FMemoryStream->GetSize()) MoveToFile();
  }
  const int64_t written = Active().Write(buffer, count);
  if (written > 0) FModified = true;
  return written;
}

int64_t TORBTemporaryStream::Seek(int64_t offset, TSeekOrigin origin) { return Active().Seek(offset, origin); }

void TORBTemporaryStream::SetSize(int64_t new_size) {
  Active().SetSize(new_size);
  FModified = true;
}

int64_t TORBTemporaryStream::GetSize() { return Active().GetSize(); }

}  // namespace orb
