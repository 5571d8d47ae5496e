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

  FormatArg(int v) : FKind(Kind::kInteger), FInt(v) {}
  FormatArg(long v) : FKind(Kind::kInteger), FInt(v) {}
  FormatArg(long long v) : FKind(Kind::kInteger), FInt(v) {}
  FormatArg(unsigned v) : FKind(Kind::kInteger), FInt(v) {}
  FormatArg(unsigned long v) : FKind(Kind::kInteger), FInt(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : FKind(Kind::kInteger), FInt(static_cast<int64_t>(v)) {}
  FormatArg(double v) : FKind(Kind::kFloat), FFloat(v) {}
  FormatArg(const char* v) : FKind(Kind::kString), FStr(v ? v : "") {}
  FormatArg(std::string v) : FKind(Kind::kString), FStr(std::move(v)) {}
  FormatArg(std::string_view v) : FKind(Kind::kString), FStr(v) {}
  // UTF-16 text is inserted as UTF-8.
  FormatArg(const std::u16string& v);
  FormatArg(bool) = delete;

  Kind GetKind() const { return FKind; }
  int64_t Integer() const { return FInt; }
  double Floating() const { return FFloat; }
  const std::string& Str() const { return FStr; }

 private:
  Kind FKind;
  int64_t FInt = 0;
  double FFloat = 0;
  std::string FStr;
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
