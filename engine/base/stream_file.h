#pragma once

#include <cstdint>
#include <string>

#include "engine/platform/file.h"
#include "engine/base/stream.h"

namespace orb {

// Open modes of file streams: one access value combined with one share value,
// or fmCreate alone.
inline constexpr uint16_t fmCreate = 0xFF00;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// A stream over a file.
class TORBFileStream : public TORBStream {
 public:
  // fmCreate creates or truncates `file_name` (UTF-8) for reading and
  // writing without sharing (10104 on failure); any other mode opens the
  // existing file (10105). With `is_temporary` the file is removed when the
  // stream is destroyed.
  TORBFileStream(const std::string& file_name, uint16_t mode, bool is_temporary);
  // A new anonymous temporary file in the temporary directory, named with
  // the prefix "ORB" and gone when the stream is destroyed (10104).
  static std::unique_ptr<TORBFileStream> CreateTemporary();
  ~TORBFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Sets the end of the file; a position past the new end moves to it. A
  // failure leaves the size unchanged (callers compare the size).
  void SetSize(int64_t new_size) override;
  int64_t GetSize() override;

  const std::string& FileName() const { return FFileName; }
  uint16_t Mode() const { return FMode; }
  bool IsTemporary() const { return FIsTemporary; }

 private:
  TORBFileStream() = default;

  TPlatformFile FHandle;
  std::string FFileName;
  uint16_t FMode = fmCreate;
  bool FIsTemporary = false;
  int64_t FPosition = 0;
};

}  // namespace orb
