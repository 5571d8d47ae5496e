#include "tools/orbdb/copy_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"

namespace orbdb {

TCopyLineReader::TCopyLineReader(int fd, std::string name, size_t block_size)
    : FFd(fd), FName(std::move(name)), FBlockSize(block_size) {
  FBuffer.reserve(block_size);
}

bool TCopyLineReader::Fill() {
  if (FEnd) return false;
  // Keep the unconsumed tail at the front, then read after it.
  FBuffer.erase(0, FStart);
  FStart = 0;
  const size_t kept = FBuffer.size();
  FBuffer.resize(kept + FBlockSize);
  for (;;) {
    const ssize_t n = ::read(FFd, FBuffer.data() + kept, FBlockSize);
    if (n > 0) {
      FBuffer.resize(kept + static_cast<size_t>(n));
      return true;
    }
    if (n == 0) {
      FBuffer.resize(kept);
      FEnd = true;
      return false;
    }
    if (errno != EINTR) {
      FBuffer.resize(kept);
      orb::RaiseORB(orb::kErrInputRead, "Cannot read from %s: %s",
                    {FName, std::string(std::strerror(errno))});
    }
  }
}

bool TCopyLineReader::NextLine(std::string_view& line) {
  size_t searched = FStart;
  for (;;) {
    const void* found = searched < FBuffer.size()
                            ? std::memchr(FBuffer.data() + searched, '\n', FBuffer.size() - searched)
                            : nullptr;
    if (found != nullptr) {
      const size_t end = static_cast<size_t>(static_cast<const char*>(found) - FBuffer.data());
      line = std::string_view(FBuffer.data() + FStart, end - FStart);
      FBytesRead += static_cast<int64_t>(end + 1 - FStart);
      FStart = end + 1;
      break;
    }
    const size_t offset = FBuffer.size() - FStart;  // searched already
    if (!Fill()) {
      if (FStart == FBuffer.size()) return false;
      line = std::string_view(FBuffer.data() + FStart, FBuffer.size() - FStart);
      FBytesRead += static_cast<int64_t>(line.size());
      FStart = FBuffer.size();
      break;
    }
    searched = FStart + offset;
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

TCopyWriter::TCopyWriter(int fd, std::string name, size_t block_size)
    : FFd(fd), FName(std::move(name)), FBlockSize(block_size) {
  FBuffer.reserve(block_size + (block_size >> 2));
}

void TCopyWriter::EndLine() {
  FBuffer += '\n';
  if (FBuffer.size() >= FBlockSize) Flush();
}

void TCopyWriter::Flush() {
  size_t done = 0;
  while (done < FBuffer.size()) {
    const ssize_t n = ::write(FFd, FBuffer.data() + done, FBuffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string reason = n < 0 ? std::strerror(errno) : "nothing written";
      FBuffer.erase(0, done);
      orb::RaiseORB(orb::kErrOutputWrite, "Cannot write to %s: %s", {FName, reason});
    }
    done += static_cast<size_t>(n);
  }
  FBuffer.clear();
}

}  // namespace orbdb
