#pragma once

// Where a command reads a file from start to end.
//
// A regular file is read through the engine's file stream, shared for
// reading only, up to the size it has when opened. Anything else (a pipe
// such as /dev/stdin, a FIFO, a character device) has no size: it is read
// with plain reads until the end of its data.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/base/stream_file.h"

namespace orbdb {

class TInputFile {
 public:
  // Raises 10105 when `path` cannot be opened for reading.
  explicit TInputFile(const std::string& path);
  ~TInputFile();
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;

  // Reads up to `count` bytes into `buffer`; 0 only at the end. Raises on a
  // read error.
  int64_t ReadSome(uint8_t* buffer, int64_t count);

 private:
  std::string FPath;
  std::unique_ptr<orb::TORBFileStream> FStream;  // a regular file
  int64_t FLeft = 0;                             // of the regular file
  int FFd = -1;                                  // anything else
};

}  // namespace orbdb
