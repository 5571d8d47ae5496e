#include "tools/orbdb/copy_text.h"

#include <cstdint>

namespace orbdb {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\v': out += "\\v"; break;
      default: out += c;
    }
  }
}

// Decodes the escapes of one field.
std::string Unescape(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 1 >= raw.size()) throw CopyFormatError("backslash at the end of a field");
    const char e = raw[++i];
    switch (e) {
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'v': out += '\v'; break;
      case 'x': {
        int value = 0;
        int digits = 0;
        while (digits < 2 && i + 1 < raw.size() && HexValue(raw[i + 1]) >= 0) {
          value = value * 16 + HexValue(raw[++i]);
          ++digits;
        }
        // "\x" without digits stands for 'x', as a backslash before any
        // other character does.
        out += digits == 0 ? 'x' : static_cast<char>(value);
        break;
      }
      default:
        if (IsOctal(e)) {
          int value = e - '0';
          for (int digits = 1; digits < 3 && i + 1 < raw.size() && IsOctal(raw[i + 1]); ++digits) {
            value = value * 8 + (raw[++i] - '0');
          }
          out += static_cast<char>(value & 0xFF);
        } else {
          out += e;
        }
    }
  }
  return out;
}

}  // namespace

std::string FormatCopyRow(const std::vector<CopyField>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    if (fields[i]) {
      AppendEscaped(line, *fields[i]);
    } else {
      line += "\\N";
    }
  }
  return line;
}

std::vector<CopyField> ParseCopyRow(std::string_view line) {
  std::vector<CopyField> fields;
  size_t start = 0;
  for (;;) {
    // A field ends at the first tab that is not escaped; an escaped tab
    // ("\" then a tab character) belongs to the field.
    size_t end = start;
    while (end < line.size() && line[end] != '\t') {
      end += line[end] == '\\' ? 2 : 1;
    }
    if (end > line.size()) throw CopyFormatError("backslash at the end of the line");
    const std::string_view raw = line.substr(start, end - start);
    if (raw == "\\N") {
      fields.emplace_back(std::nullopt);
    } else {
      fields.emplace_back(Unescape(raw));
    }
    if (end == line.size()) break;
    start = end + 1;
  }
  return fields;
}

std::string FormatCopyBytes(std::string_view bytes) {
  std::string out = "\\x";
  out.reserve(2 + bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
  }
  return out;
}

std::string ParseCopyBytes(std::string_view text) {
  if (text.size() < 2 || text[0] != '\\' || (text[1] != 'x' && text[1] != 'X')) {
    throw CopyFormatError("binary value does not start with \\x");
  }
  if (text.size() % 2 != 0) throw CopyFormatError("binary value has an odd number of hex digits");
  std::string out;
  out.reserve((text.size() - 2) / 2);
  for (size_t i = 2; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) throw CopyFormatError("binary value has a character that is not a hex digit");
    out += static_cast<char>(high * 16 + low);
  }
  return out;
}

}  // namespace orbdb
