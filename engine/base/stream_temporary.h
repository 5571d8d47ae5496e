#pragma once

#include <cstdint>
#include <memory>

#include "engine/base/stream.h"
#include "engine/base/stream_file.h"
#include "engine/base/stream_memory.h"

namespace orb {

// A stream that starts in memory and moves, once, to an anonymous temporary
// file when a write would take its content past the memory limit. With
// temporary files disabled it stays in memory whatever its size.
class TORBTemporaryStream : public TORBStream {
 public:
  explicit TORBTemporaryStream(bool disable_temp_files = false);

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t new_size) override;
  int64_t GetSize() override;

  bool InMemory() const { return FInMemory; }
  int32_t MemoryLimit() const { return FMemoryLimit; }
  void SetMemoryLimit(int32_t limit) { FMemoryLimit = limit; }

 private:
  TStream& Active();
  void MoveToFile();

  int32_t FMemoryLimit;
  std::unique_ptr<TORBMemoryStream> FMemoryStream;
  std::unique_ptr<TORBFileStream> FFileStream;
  bool FInMemory = true;
  bool FDisableTempFiles;
};

}  // namespace orb
