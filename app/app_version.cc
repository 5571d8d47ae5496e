#include "app/app_version.h"

#include "components/db_common.h"
#include "engine/platform/dataset_error.h"
#include "engine/platform/file_version.h"

namespace orb {

std::string GetAppVersionStr() {
  TFileVersion version;
  const PlatformStatus status = ReadOwnFileVersion(&version);
  if (!status.Ok()) {
    throw Exception("System Error.  Code: " + std::to_string(status.Code()) + ".\n" + status.Text());
  }
  return version.ToString();
}

}  // namespace orb
