#pragma once

// Command-line options shared by the subcommands.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

#include "engine/disk/encryption.h"

namespace orbdb {

// Cipher names accepted on the command line, in TORBCryptoAlgorithm order.
std::string_view CipherName(orb::TORBCryptoAlgorithm algorithm);
std::optional<orb::TORBCryptoAlgorithm> CipherFromName(std::string_view name);
// "rijndael_128, rijndael_256, ..." for help texts.
std::string CipherNameList();

// A whole decimal number from `min` to `max` (no sign prefix other than
// '-', no hex or octal forms); UsageError otherwise.
int64_t ParseNumber(std::string_view option, const std::string& text, int64_t min, int64_t max);

// Adds option `name` taking a decimal number from `min` to `max` into
// `*target`. REQUIRES: `target` outlives the parse.
CLI::Option* AddNumberOption(CLI::App* sub, const std::string& name, int64_t* target, int64_t min, int64_t max,
                             const std::string& help);

}  // namespace orbdb
