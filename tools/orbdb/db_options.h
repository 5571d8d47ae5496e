#pragma once

// Command-line helpers shared by the database subcommands.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/disk/encryption.h"
#include "tools/orbdb/command.h"

namespace orbdb {

// Cipher names accepted on the command line, in TORBCryptoAlgorithm order.
std::string_view CipherName(orb::TORBCryptoAlgorithm algorithm);
std::optional<orb::TORBCryptoAlgorithm> CipherFromName(std::string_view name);

// The value following option `args[i]`; UsageError when missing.
const std::string& OptionValue(const Args& args, size_t& i);
// A whole decimal number from `min` to `max`; UsageError otherwise.
int64_t ParseNumber(std::string_view option, const std::string& text, int64_t min, int64_t max);

}  // namespace orbdb
