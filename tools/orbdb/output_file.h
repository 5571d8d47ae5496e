#pragma once

// Where a command writes a file.
//
// A regular file, or a name that does not exist yet, is replaced
// atomically: the output goes to a temporary file beside it, which Commit
// renames over it (keeping an existing file's permission bits) and the
// destructor removes otherwise. Anything else that exists (a FIFO, a
// character device) is written through: the output is collected in an
// anonymous temporary file and copied into it by Commit, so it is never
// replaced by a regular file; writes through append, so that /dev/stdout
// redirected to a file opened for appending keeps its content. A symbolic
// link is never replaced itself: the rules apply to the file it leads to,
// and a dangling link gets its target created. An open descriptor's entry
// (/dev/stdout, /proc/self/fd/N) is always written through, being an open
// file rather than a name.

#include <sys/types.h>

#include <memory>
#include <string>

#include "engine/base/stream_file.h"

namespace orbdb {

class TOutputFile {
 public:
  explicit TOutputFile(const std::string& path);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // The staging stream; seekable whatever the target is.
  orb::TORBFileStream& Stream() { return *FStream; }
  // The path written: for a regular file or a new name, the file a
  // symbolic link leads to.
  const std::string& Target() const { return FTarget; }
  bool WritesThrough() const { return FWriteThrough; }

  // Puts the staged output in place. REQUIRES: called once.
  void Commit();

 private:
  void CopyToTarget();

  std::string FTarget;
  bool FWriteThrough = false;
  bool FExisted = false;
  mode_t FMode = 0;
  std::string FTemp;  // empty when writing through
  std::unique_ptr<orb::TORBFileStream> FStream;
  bool FCommitted = false;
};

// `path` with every symbolic link along its last component followed, link
// text relative to the link's directory; `path` itself when it is no link
// or does not exist. Raises 10104 for a loop of links.
std::string FollowLinks(const std::string& path);

}  // namespace orbdb
