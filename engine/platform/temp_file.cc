#include "engine/platform/temp_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace orb {

std::string TempDirectory() {
  const char* env = getenv("TMPDIR");
  if (env != nullptr && *env != '\0') {
    struct stat st;
    if (stat(env, &st) == 0 && S_ISDIR(st.st_mode)) {
      std::string dir(env);
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      return dir;
    }
  }
  return "/tmp";
}

PlatformStatus OpenTemporaryFile(TPlatformFile& file, std::string_view prefix) {
  if (file.IsOpen()) return PlatformStatus(EISCONN, "The file object is already open");
  std::string name = TempDirectory() + "/" + std::string(prefix) + "XXXXXX";
  std::vector<char> templ(name.begin(), name.end());
  templ.push_back('\0');
  int fd = mkostemp(templ.data(), O_CLOEXEC);
  if (fd < 0) return PlatformStatus::FromErrno(errno);
  name.assign(templ.data());
  if (unlink(name.c_str()) != 0) {
    PlatformStatus s = PlatformStatus::FromErrno(errno);
    close(fd);
    return s;
  }
  file.FFd = fd;
  file.FOpenFlags = O_RDWR;
  file.FPath = name;
  file.FAccess = FileAccess::kReadWrite;
  file.FShare = FileShare::kDenyAll;
  return PlatformStatus();
}

PlatformStatus FreeDiskSpace(const std::string& path, int64_t* bytes) {
  *bytes = 0;
  struct statvfs st;
  for (;;) {
    if (statvfs(path.c_str(), &st) == 0) break;
    if (errno != EINTR) return PlatformStatus::FromErrno(errno);
  }
  unsigned __int128 total = static_cast<unsigned __int128>(st.f_bavail) * st.f_frsize;
  *bytes = total > INT64_MAX ? INT64_MAX : static_cast<int64_t>(total);
  return PlatformStatus();
}

}  // namespace orb
