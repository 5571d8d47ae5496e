#include "tools/orbdb/copy_text.h"

#include <cstdint>
#include <cstring>

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

// Whether `c` is written as an escape.
bool NeedsEscape(char c) {
  switch (c) {
    case '\\':
    case '\t':
    case '\n':
    case '\r':
    case '\b':
    case '\f':
    case '\v':
      return true;
    default:
      return false;
  }
}

void AppendEscaped(std::string& out, std::string_view text) {
  size_t run = 0;  // start of the bytes taken over as they are
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!NeedsEscape(c)) continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default: out += "\\v"; break;
    }
  }
  out.append(text.data() + run, text.size() - run);
}

// Decodes the escapes of one field into `out` (replacing its content).
void Unescape(std::string_view raw, std::string& out) {
  out.clear();
  size_t i = 0;
  for (;;) {
    const void* backslash = i < raw.size() ? std::memchr(raw.data() + i, '\\', raw.size() - i) : nullptr;
    if (backslash == nullptr) {
      out.append(raw.data() + i, raw.size() - i);
      return;
    }
    const size_t at = static_cast<size_t>(static_cast<const char*>(backslash) - raw.data());
    out.append(raw.data() + i, at - i);
    i = at;
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
    ++i;
  }
}

}  // namespace

void AppendCopyField(std::string& line, const CopyField& field) {
  if (field) {
    AppendEscaped(line, *field);
  } else {
    line += "\\N";
  }
}

void AppendCopyText(std::string& line, std::string_view text) { AppendEscaped(line, text); }

std::string FormatCopyRow(const std::vector<CopyField>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    AppendCopyField(line, fields[i]);
  }
  return line;
}

size_t ParseCopyRow(std::string_view line, std::vector<CopyField>& fields) {
  size_t count = 0;
  size_t start = 0;
  for (;;) {
    // A field ends at the first tab that is not escaped; an escaped tab
    // ("\" then a tab character) belongs to the field.
    size_t end = start;
    bool escaped = false;
    for (;;) {
      const void* tab = std::memchr(line.data() + end, '\t', line.size() - end);
      const size_t tab_at = tab == nullptr ? line.size() : static_cast<size_t>(static_cast<const char*>(tab) - line.data());
      const void* backslash = std::memchr(line.data() + end, '\\', tab_at - end);
      if (backslash == nullptr) {
        end = tab_at;
        break;
      }
      // Past the escaped character (a tab among them), then on.
      escaped = true;
      end = static_cast<size_t>(static_cast<const char*>(backslash) - line.data()) + 2;
      if (end > line.size()) throw CopyFormatError("backslash at the end of the line");
    }
    const std::string_view raw = line.substr(start, end - start);
    if (count == fields.size()) fields.emplace_back();
    CopyField& field = fields[count++];
    if (!escaped) {
      if (!field) field.emplace();
      field->assign(raw.data(), raw.size());
    } else if (raw == "\\N") {
      field.reset();
    } else {
      if (!field) field.emplace();
      Unescape(raw, *field);
    }
    if (end == line.size()) break;
    start = end + 1;
  }
  return count;
}

std::vector<CopyField> ParseCopyRow(std::string_view line) {
  std::vector<CopyField> fields;
  fields.resize(ParseCopyRow(line, fields));
  return fields;
}

std::string QuoteCopyValue(std::string_view value) {
  constexpr size_t kMaxCharacters = 80;
  // Cut after kMaxCharacters UTF-8 characters (continuation bytes do not
  // count), never inside one.
  size_t end = 0;
  size_t characters = 0;
  while (end < value.size()) {
    if ((static_cast<unsigned char>(value[end]) & 0xC0) != 0x80) {
      if (characters == kMaxCharacters) break;
      ++characters;
    }
    ++end;
  }
  std::string out = "'";
  // Control characters the row format writes as they are (a NUL among
  // them) are escaped too, as octal.
  const std::string_view shown = value.substr(0, end);
  size_t run = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    const auto c = static_cast<unsigned char>(shown[i]);
    if ((c >= 0x20 && c != 0x7F) || NeedsEscape(shown[i])) continue;
    AppendEscaped(out, shown.substr(run, i - run));
    run = i + 1;
    const char octal[] = {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + ((c >> 3) & 7)),
                          static_cast<char>('0' + (c & 7)), '\0'};
    out += octal;
  }
  AppendEscaped(out, shown.substr(run));
  out += end < value.size() ? "'..." : "'";
  return out;
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
