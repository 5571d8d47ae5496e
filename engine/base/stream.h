#pragma once

// The abstract byte stream every engine stream derives from, the checked
// primitives through which persistent structures are written and read, and
// TORBStream, the base of the engine's own streams.

#include <cstdint>
#include <functional>
#include <string>

#include "engine/platform/critical_section.h"
#include "engine/base/compression.h"

namespace orb {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// A seekable byte stream. Read and Write return the number of bytes moved
// (a short count is not an error by itself); Seek returns the new position.
class TStream {
 public:
  virtual ~TStream() = default;

  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t new_size) = 0;
  // Defaults to seeking to the end and back.
  virtual int64_t GetSize();

  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
};

// Writes `size` bytes; fewer raises `error_code` ("Cannot write to stream...").
void SaveDataToStream(const void* buffer, int64_t size, TStream& stream, int32_t error_code);
// Reads `size` bytes; fewer raises `error_code` ("Cannot read from stream...").
void LoadDataFromStream(void* buffer, int64_t size, TStream& stream, int32_t error_code);
// Seeks to `position`; not arriving there raises `error_code`.
void SetStreamPosition(TStream& stream, int64_t position, int32_t error_code);

inline constexpr const char* kMsgCannotWriteToStream =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";
inline constexpr const char* kMsgCannotReadFromStream =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
inline constexpr const char* kMsgCannotSetStreamPosition = "Cannot set stream position to %d. Position = %d, Size = %d";
inline constexpr const char* kMsgStreamTooSmall = "Stream size = %d too small. Should be at least = %d";
inline constexpr const char* kMsgInvalidStreamSize = "Invalid stream size = %d. Should be = %d";
inline constexpr const char* kMsgStreamBlockSizeZero = "Stream block size = 0 is not allowed";

using TORBStreamProgress = std::function<void(TStream& stream, double percent)>;

// Base of the engine's streams: a copy block size, a progress callback, a
// modified flag and a lock for callers that share one stream.
class TORBStream : public TStream {
 public:
  TORBStream() = default;
  TORBStream(const TORBStream&) = delete;
  TORBStream& operator=(const TORBStream&) = delete;

  virtual void Lock() { FCSect.Enter(); }
  virtual void Unlock() { FCSect.Leave(); }

  // Copies the whole content into `stream` at its current position, in
  // pieces of BlockSize(), reporting progress 0, after each piece and 100;
  // both positions are restored afterwards.
  void SaveToStream(TStream& stream);
  // Replaces the content with `stream`'s bytes [position, position + size).
  void LoadFromStream(TStream& stream);
  void LoadFromStreamWithPosition(TStream& stream, int64_t position, int64_t size);
  // File name in UTF-8.
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name);

  int32_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(int32_t size) { FBlockSize = size; }
  void SetOnProgress(TORBStreamProgress callback) { FOnProgress = std::move(callback); }
  bool Modified() const { return FModified; }
  void SetModified(bool modified) { FModified = modified; }

 protected:
  void Progress(double percent) {
    if (FOnProgress) FOnProgress(*this, percent);
  }

  TCriticalSection FCSect;
  int32_t FBlockSize = DefaultMemoryBlockSize;
  TORBStreamProgress FOnProgress;
  bool FModified = false;
};

}  // namespace orb
