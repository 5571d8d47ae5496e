#pragma once

// Rows as text, in the text format of PostgreSQL's COPY: one row a line,
// fields separated by a tab, `\N` for a null field, and backslash escapes
// inside fields:
//
//   \\  backslash      \t  tab            \n  newline       \r  return
//   \b  backspace      \f  form feed      \v  vertical tab
//   \ooo  byte with octal value (1 to 3 digits)
//   \xhh  byte with hex value (1 or 2 digits)
//
// A backslash before any other character stands for that character. The
// writer escapes exactly backslash, tab, newline, return, backspace, form
// feed and vertical tab, so every byte string survives a round trip.
// Binary values (BLOB, BYTES) are written as `\x` followed by two lower-case
// hex digits a byte, the backslash itself escaped in the line (`\\x4142`),
// as PostgreSQL writes its byte arrays.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orbdb {

// A field of a row: its text, or nothing for null.
using CopyField = std::optional<std::string>;

// A line that is not in the format; the message says why.
class CopyFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The fields joined into one line (no line end).
std::string FormatCopyRow(const std::vector<CopyField>& fields);
// One field appended to a line being built: escaped, or `\N` for null.
void AppendCopyField(std::string& line, const CopyField& field);
// Text appended escaped (a field that is not null).
void AppendCopyText(std::string& line, std::string_view text);

// The fields of one line (without its line end). Raises CopyFormatError for
// a backslash at the end of the line.
std::vector<CopyField> ParseCopyRow(std::string_view line);
// The same into `fields`, reusing its elements (and their buffers) and
// growing it when the line has more fields; answers the line's number of
// fields (`fields` may hold more, left from longer lines).
size_t ParseCopyRow(std::string_view line, std::vector<CopyField>& fields);

// `value` for an error message: in single quotes, escaped as in a row (so
// no line end appears raw), and cut after 80 characters with "...".
std::string QuoteCopyValue(std::string_view value);

// "\x" followed by the bytes in hex, and back. ParseCopyBytes raises
// CopyFormatError unless `text` is "\x" and an even number of hex digits.
std::string FormatCopyBytes(std::string_view bytes);
std::string ParseCopyBytes(std::string_view text);

}  // namespace orbdb
