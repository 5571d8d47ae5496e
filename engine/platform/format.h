#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

// One argument of a printf-style engine message. Integers, floating-point
// numbers and strings are told apart so that a placeholder can be checked
// against the argument it consumes.
class FormatArg {
 public:
  enum class Kind { kInteger, kFloat, kString };

  FormatArg(int v) : kind_(Kind::kInteger), int_(v) {}
  FormatArg(long v) : kind_(Kind::kInteger), int_(v) {}
  FormatArg(long long v) : kind_(Kind::kInteger), int_(v) {}
  FormatArg(unsigned v) : kind_(Kind::kInteger), int_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::kInteger), int_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : kind_(Kind::kInteger), int_(static_cast<int64_t>(v)) {}
  FormatArg(double v) : kind_(Kind::kFloat), float_(v) {}
  FormatArg(const char* v) : kind_(Kind::kString), str_(v ? v : "") {}
  FormatArg(std::string v) : kind_(Kind::kString), str_(std::move(v)) {}
  FormatArg(std::string_view v) : kind_(Kind::kString), str_(v) {}
  // UTF-16 text is inserted as UTF-8.
  FormatArg(const std::u16string& v);
  FormatArg(bool) = delete;

  Kind kind() const { return kind_; }
  int64_t integer() const { return int_; }
  double floating() const { return float_; }
  const std::string& str() const { return str_; }

 private:
  Kind kind_;
  int64_t int_ = 0;
  double float_ = 0;
  std::string str_;
};

using FormatArgs = std::vector<FormatArg>;

// Formats `fmt` with `args`. Placeholders: %[index:][-][width][.precision]type
// with type d, u (integers), x (hex integer), s (string), f, e, g, n, m
// (floating point; n with thousands separators), and %% for a percent sign.
// Width and precision may be '*' (taken from an integer argument).
// Returns nullopt when a placeholder is malformed, runs out of arguments or
// does not match the kind of its argument.
std::optional<std::string> TryFormat(std::string_view fmt, std::span<const FormatArg> args);

// Text of a Windows-1252 byte string as UTF-8, for inserting names held in
// the engine's code page into messages.
FormatArg Ansi(std::string_view cp1252);

}  // namespace orb
