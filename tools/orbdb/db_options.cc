#include "tools/orbdb/db_options.h"

#include <array>
#include <charconv>

#include "tools/orbdb/command.h"

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

std::string CipherNameList() {
  std::string out;
  for (std::string_view name : kCipherNames) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

int64_t ParseNumber(std::string_view option, const std::string& text, int64_t min, int64_t max) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) {
    throw UsageError(std::string(option) + " must be a number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not '" + text + "'");
  }
  return value;
}

CLI::Option* AddNumberOption(CLI::App* sub, const std::string& name, int64_t* target, int64_t min, int64_t max,
                             const std::string& help) {
  return sub
      ->add_option_function<std::string>(
          name, [name, target, min, max](const std::string& text) { *target = ParseNumber(name, text, min, max); },
          help)
      ->type_name("N");
}

}  // namespace orbdb
