#include "engine/platform/format.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>

#include "engine/platform/codepage.h"

namespace orb {

FormatArg::FormatArg(const std::u16string& v) : FKind(Kind::kString), FStr(WideToUtf8(v)) {}

FormatArg Ansi(std::string_view cp1252) { return FormatArg(AnsiToUtf8(cp1252)); }

namespace {

std::string Pad(std::string body, int width, bool left) {
  if (width > 0 && body.size() < static_cast<size_t>(width)) {
    const std::string fill(static_cast<size_t>(width) - body.size(), ' ');
    body = left ? body + fill : fill + body;
  }
  return body;
}

std::string FormatInteger(int64_t v, int precision, char type) {
  std::string digits;
  bool negative = false;
  if (type == 'x') {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(v), 16);
    digits.assign(buf, r.ptr);
    for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  } else if (type == 'u') {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(v));
    digits.assign(buf, r.ptr);
  } else {
    negative = v < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, magnitude);
    digits.assign(buf, r.ptr);
  }
  if (precision > 0 && digits.size() < static_cast<size_t>(precision)) {
    digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
  }
  return negative ? "-" + digits : digits;
}

std::string GroupThousands(std::string_view fixed) {
  const size_t start = !fixed.empty() && fixed[0] == '-' ? 1 : 0;
  size_t dot = fixed.find('.');
  if (dot == std::string_view::npos) dot = fixed.size();
  const size_t digits = dot - start;
  std::string out;
  out.reserve(fixed.size() + digits / 3);
  out.append(fixed.data(), start);
  for (size_t i = 0; i < digits; ++i) {
    if (i > 0 && (digits - i) % 3 == 0) out.push_back(',');
    out.push_back(fixed[start + i]);
  }
  out.append(fixed.data() + dot, fixed.size() - dot);
  return out;
}

// Floating-point text never depends on the C locale: '.' is the decimal
// separator even after setlocale has chosen another one.
std::string ToChars(double v, std::chars_format fmt, int precision) {
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, v, fmt, precision);
  std::string s(buf, r.ptr);
  for (char& c : s) {
    if (c == 'e') c = 'E';
  }
  return s;
}

std::string FormatFloat(double v, int precision, char type) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  switch (type) {
    case 'f':
    case 'n':
    case 'm': {
      const int prec = precision < 0 ? 2 : std::min(precision, 18);
      std::string s = ToChars(v, std::chars_format::fixed, prec);
      return type == 'f' ? s : GroupThousands(s);
    }
    case 'e': {
      // d.ddd...E+ddd with `precision` significant digits (default 15).
      const int digits = precision < 1 ? 15 : std::min(precision, 18);
      std::string s = ToChars(v, std::chars_format::scientific, digits - 1);
      const size_t e = s.find('E');
      if (e == std::string::npos || e + 2 > s.size()) return s;
      const char sign = s[e + 1];
      const std::string_view num(s.data() + e + 2, s.size() - e - 2);
      std::string out(s, 0, e);
      out += 'E';
      out += sign;
      if (num.size() < 3) out.append(3 - num.size(), '0');
      out.append(num);
      return out;
    }
    default: {  // 'g'
      const int digits = precision < 1 ? 15 : std::min(precision, 18);
      return ToChars(v, std::chars_format::general, digits);
    }
  }
}

}  // namespace

std::optional<std::string> TryFormat(std::string_view fmt, std::span<const FormatArg> args) {
  std::string out;
  size_t next_arg = 0;
  size_t i = 0;
  auto read_number = [&](int& value) -> bool {
    if (i < fmt.size() && fmt[i] == '*') {
      ++i;
      if (next_arg >= args.size() || args[next_arg].GetKind() != FormatArg::Kind::kInteger) return false;
      const int64_t v = args[next_arg++].Integer();
      value = v < 0 ? 0 : static_cast<int>(std::min<int64_t>(v, 4096));
      return true;
    }
    value = 0;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
      value = value * 10 + (fmt[i] - '0');
      if (value > 4096) return false;
      ++i;
    }
    return true;
  };
  while (i < fmt.size()) {
    const char c = fmt[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i >= fmt.size()) return std::nullopt;
    if (fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // Optional argument index "n:".
    size_t j = i;
    while (j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9') ++j;
    if (j > i && j < fmt.size() && fmt[j] == ':') {
      int index = 0;
      if (!read_number(index)) return std::nullopt;
      ++i;  // ':'
      next_arg = static_cast<size_t>(index);
    }
    bool left = false;
    if (i < fmt.size() && fmt[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    if (!read_number(width)) return std::nullopt;
    int precision = -1;
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      if (!read_number(precision)) return std::nullopt;
    }
    if (i >= fmt.size()) return std::nullopt;
    const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i++])));
    if (next_arg >= args.size()) return std::nullopt;
    const FormatArg& arg = args[next_arg++];
    std::string body;
    switch (type) {
      case 'd':
      case 'u':
      case 'x':
        if (arg.GetKind() != FormatArg::Kind::kInteger) return std::nullopt;
        body = FormatInteger(arg.Integer(), precision, type);
        break;
      case 's':
        if (arg.GetKind() != FormatArg::Kind::kString) return std::nullopt;
        body = arg.Str();
        if (precision >= 0 && body.size() > static_cast<size_t>(precision)) body.resize(static_cast<size_t>(precision));
        break;
      case 'f':
      case 'e':
      case 'g':
      case 'n':
      case 'm':
        if (arg.GetKind() != FormatArg::Kind::kFloat) return std::nullopt;
        body = FormatFloat(arg.Floating(), precision, type);
        break;
      default:
        return std::nullopt;
    }
    out += Pad(std::move(body), width, left);
  }
  return out;
}

}  // namespace orb
