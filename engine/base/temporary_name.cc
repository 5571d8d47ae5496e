#include "engine/base/temporary_name.h"

#include "engine/platform/random.h"

namespace orb {

std::string GetTemporaryName(std::string_view prefix) { return std::string(prefix) + NewGuidText(); }

}  // namespace orb
