#include "app/jotbin_storage.h"

#include <string_view>

namespace orb {

std::string DatabaseFileMissingMessage(const std::string& path) {
  std::string message(kSDatabaseFileMissing);
  message.replace(message.find("%s"), 2, path);
  return message;
}

}  // namespace orb
