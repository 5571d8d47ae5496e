#pragma once

// Buffered reading and writing of COPY text (see copy_text.h) on file
// descriptors: lines are read in large blocks and handed out as views into
// the buffer, rows are collected in a large buffer and written in blocks.
// Neither goes through the C or C++ standard streams.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/orbdb/copy_text.h"

namespace orbdb {

class TCopyLineReader {
 public:
  // Reads `fd`, which stays open and owned by the caller; `name` is what
  // an error message calls it.
  explicit TCopyLineReader(int fd, std::string name = "standard input", size_t block_size = 1 << 20);
  TCopyLineReader(const TCopyLineReader&) = delete;
  TCopyLineReader& operator=(const TCopyLineReader&) = delete;

  // The next line, without its line end ("\n", or "\r\n"); false at the end
  // of the input. A last line without a line end counts as a line. The view
  // holds until the next call. Raises kErrInputRead on a read error.
  bool NextLine(std::string_view& line);
  // Bytes consumed so far, line ends included.
  int64_t BytesRead() const { return FBytesRead; }

 private:
  // Reads one more block after the unconsumed bytes; false at the end.
  bool Fill();

  int FFd;
  std::string FName;
  size_t FBlockSize;
  std::string FBuffer;
  size_t FStart = 0;  // first unconsumed byte of FBuffer
  bool FEnd = false;
  int64_t FBytesRead = 0;
};

class TCopyWriter {
 public:
  // Writes to `fd`, which stays open and owned by the caller; `name` is
  // what an error message calls it.
  explicit TCopyWriter(int fd, std::string name = "standard output", size_t block_size = 1 << 20);
  // Discards what was not flushed (a destructor never throws).
  ~TCopyWriter() = default;
  TCopyWriter(const TCopyWriter&) = delete;
  TCopyWriter& operator=(const TCopyWriter&) = delete;

  // The line being built: append fields with AppendCopyField, tabs, and end
  // it with EndLine.
  std::string& Line() { return FBuffer; }
  // Ends the line with '\n' and writes the buffer when it is full.
  void EndLine();
  // Writes every byte collected. Raises kErrOutputWrite when the
  // descriptor refuses them.
  void Flush();

 private:
  int FFd;
  std::string FName;
  size_t FBlockSize;
  std::string FBuffer;
};

}  // namespace orbdb
