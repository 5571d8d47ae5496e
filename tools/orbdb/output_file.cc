#include "tools/orbdb/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/file.h"

namespace orbdb {

namespace {

constexpr int kMaxLinks = 40;
constexpr size_t kCopyPiece = 1 << 20;
constexpr const char* kMsgCannotCreate = "Cannot create file. FileName = %s";

// The directory part of `path` ("." for none).
std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The text of symbolic link `path`, resolved against its directory; empty
// when it cannot be read.
std::string LinkTarget(const std::string& path, off_t size_hint) {
  std::vector<char> text(static_cast<size_t>(size_hint > 0 ? size_hint : 255) + 1);
  const ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
  if (n <= 0 || static_cast<size_t>(n) >= text.size()) return {};
  const std::string link(text.data(), static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (link.starts_with("/") || slash == std::string::npos) return link;
  return path.substr(0, slash + 1) + link;
}

// True when a link on the way from `path` is an open descriptor's entry in
// /proc (/dev/stdout, /dev/fd/1, /proc/self/fd/3): it stands for an open
// file that the caller may have opened for appending, so it is written
// through, never replaced.
bool ThroughDescriptorLink(const std::string& path) {
  std::string current = path;
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    char* dir = ::realpath(DirectoryOf(current).c_str(), nullptr);
    if (dir != nullptr) {
      const std::string resolved(dir);
      ::free(dir);
      if (resolved.starts_with("/proc/") && resolved.ends_with("/fd")) return true;
    }
    current = LinkTarget(current, st.st_size);
    if (current.empty()) return false;
  }
  return false;
}

}  // namespace

std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    current = LinkTarget(current, st.st_size);
    if (current.empty()) break;
  }
  orb::RaiseORB(10104, kMsgCannotCreate, {path});
}

TOutputFile::TOutputFile(const std::string& path) : FTarget(path) {
  struct stat st;
  if (ThroughDescriptorLink(path)) {
    FWriteThrough = true;
  } else if (::stat(path.c_str(), &st) == 0) {
    FExisted = true;
    FMode = st.st_mode & 07777;
    FWriteThrough = !S_ISREG(st.st_mode);
    struct stat link;
    if (!FWriteThrough && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      // Replace the file the link leads to, never the link. A link that
      // names no path (an open file's entry in /proc whose name is gone) is
      // written through.
      char* resolved = ::realpath(path.c_str(), nullptr);
      if (resolved != nullptr) {
        FTarget = resolved;
        ::free(resolved);
      } else {
        FWriteThrough = true;
      }
    }
  } else if (errno == ENOENT) {
    // A new name, or a dangling link: create the file it names.
    FTarget = FollowLinks(path);
  } else {
    orb::RaiseORB(10104, kMsgCannotCreate, {path});
  }
  if (FWriteThrough) {
    FStream = orb::TORBFileStream::CreateTemporary();
  } else {
    FTemp = FTarget + ".partial-" + std::to_string(::getpid());
    FStream = std::make_unique<orb::TORBFileStream>(FTemp, orb::fmCreate, false);
  }
}

TOutputFile::~TOutputFile() {
  FStream.reset();
  if (!FCommitted && !FTemp.empty()) orb::TPlatformFile::Delete(FTemp);
}

void TOutputFile::Commit() {
  if (FWriteThrough) {
    CopyToTarget();
    FStream.reset();
    FCommitted = true;
    return;
  }
  FStream.reset();
  if (FExisted) ::chmod(FTemp.c_str(), FMode);
  const orb::PlatformStatus st = orb::TPlatformFile::Rename(FTemp, FTarget, true);
  if (!st.Ok()) orb::RaiseORB(10104, kMsgCannotCreate, {FTarget});
  FCommitted = true;
}

void TOutputFile::CopyToTarget() {
  // No O_CREAT: the target exists, and is not to be replaced by a new file
  // if it went away meanwhile. O_APPEND keeps what a descriptor opened for
  // appending already holds; FIFOs and devices ignore it.
  int fd;
  do {
    fd = ::open(FTarget.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) orb::RaiseORB(10104, kMsgCannotCreate, {FTarget});
  const int64_t size = FStream->GetSize();
  std::vector<uint8_t> piece(kCopyPiece);
  FStream->Seek(0, orb::soBeginning);
  int err = 0;
  for (int64_t done = 0; done < size && err == 0;) {
    const int64_t n = std::min<int64_t>(size - done, static_cast<int64_t>(piece.size()));
    if (FStream->Read(piece.data(), n) != n) {
      err = EIO;  // the staged output cannot be read back
      break;
    }
    for (int64_t written = 0; written < n;) {
      const ssize_t w = ::write(fd, piece.data() + written, static_cast<size_t>(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        err = w < 0 ? errno : EIO;
        break;
      }
      written += w;
    }
    done += n;
  }
  if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  if (err != 0) {
    orb::RaiseORB(orb::kErrOutputWrite, "Cannot write to %s: %s", {FTarget, std::string(std::strerror(err))});
  }
}

}  // namespace orbdb
