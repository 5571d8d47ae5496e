#include "tools/orbdb/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"

namespace orbdb {

namespace {
constexpr uint16_t kMode = orb::fmOpenRead | orb::fmShareDenyWrite;
}  // namespace

TInputFile::TInputFile(const std::string& path) : FPath(path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    FStream = std::make_unique<orb::TORBFileStream>(path, kMode, false);
    FLeft = FStream->GetSize();
    return;
  }
  do {
    FFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (FFd < 0 && errno == EINTR);
  if (FFd < 0) {
    orb::RaiseORB(10105, "Cannot open file. FileName = %s, Mode = %d", {path, static_cast<int>(kMode)});
  }
}

TInputFile::~TInputFile() {
  if (FFd >= 0) ::close(FFd);
}

int64_t TInputFile::ReadSome(uint8_t* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (FStream) {
    const int64_t n = std::min(count, FLeft);
    orb::LoadDataFromStream(buffer, n, *FStream, 10148);
    FLeft -= n;
    return n;
  }
  for (;;) {
    const ssize_t n = ::read(FFd, buffer, static_cast<size_t>(count));
    if (n >= 0) return n;
    if (errno != EINTR) {
      orb::RaiseORB(orb::kErrInputRead, "Cannot read from %s: %s", {FPath, std::string(std::strerror(errno))});
    }
  }
}

}  // namespace orbdb
