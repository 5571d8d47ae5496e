#include "tools/orbdb/db_options.h"

#include <array>
#include <charconv>

namespace orbdb {

namespace {
constexpr std::array<std::string_view, orb::kCryptoAlgorithmCount> kCipherNames = {
    "rijndael_128", "rijndael_256", "des_single", "des_triple", "blowfish", "twofish_128", "twofish_256", "square"};
}  // namespace

std::string_view CipherName(orb::TORBCryptoAlgorithm algorithm) {
  return algorithm < kCipherNames.size() ? kCipherNames[algorithm] : std::string_view("unknown");
}

std::optional<orb::TORBCryptoAlgorithm> CipherFromName(std::string_view name) {
  for (size_t i = 0; i < kCipherNames.size(); ++i) {
    if (kCipherNames[i] == name) return static_cast<orb::TORBCryptoAlgorithm>(i);
  }
  return std::nullopt;
}

const std::string& OptionValue(const Args& args, size_t& i) {
  if (i + 1 >= args.size()) throw UsageError{"option " + args[i] + " needs a value"};
  return args[++i];
}

int64_t ParseNumber(std::string_view option, const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) {
    throw UsageError{std::string(option) + " must be a number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not '" + text + "'"};
  }
  return value;
}

}  // namespace orbdb
