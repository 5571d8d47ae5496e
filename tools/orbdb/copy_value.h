#pragma once

// Field values as the text of a COPY row, and back. The text is UTF-8:
// single-byte strings are converted from and to the engine's code page,
// wide strings from and to UTF-16. Text that does not convert exactly
// (invalid UTF-8, a NUL, a character outside the code page for a
// single-byte field) is refused, never stored changed. Forms:
//   integers     decimal                  floats   shortest round trip
//   currency     up to four decimals      logical  t / f (reads also
//                                                  true/false, yes/no,
//                                                  on/off, 1/0, any case)
//   date         yyyy-mm-dd               time     hh:nn:ss[.z to .zzz]
//   date-time    yyyy-mm-dd hh:nn:ss[.zzz] (the time left out at midnight)
//   (dates and times exactly so: digits where digits stand, nothing after)
//   BYTES, VARBYTES and BLOB    \x and hex digits (see copy_text.h)
//   MEMO, WIDEMEMO              text

#include <optional>
#include <string>
#include <string_view>

#include "engine/base/field_types.h"
#include "engine/base/variant.h"

namespace orbdb {

// Text of a value of a field that is not a BLOB; nothing for null.
std::optional<std::string> ValueToCopyText(const orb::TORBVariant& value);

// ValueToCopyText's answer appended to a line, escaped (`\N` for null).
void AppendValueCopyText(std::string& line, const orb::TORBVariant& value);

// The value of `type` that `text` spells. Raises CopyFormatError naming
// the type when it does not (a number out of range included).
// REQUIRES: `type` is not a BLOB type.
orb::TORBVariant CopyTextToValue(std::string_view text, orb::TORBBaseFieldType type);
// The same into `value`, whose buffer is reused when the kind and size
// stay (so that a loop over rows allocates nothing for fixed-size kinds).
void CopyTextToValue(std::string_view text, orb::TORBBaseFieldType type, orb::TORBVariant& value);

// Text of the stored bytes of a BLOB field of `type` (MEMO: code-page
// bytes, WIDEMEMO: UTF-16LE bytes, other: binary), and back.
// An empty BLOB is null: CopyTextToBlob's answer is then empty.
std::string BlobToCopyText(std::string_view bytes, orb::TORBBaseFieldType type);
std::string CopyTextToBlob(std::string_view text, orb::TORBBaseFieldType type);

// UTF-8 text as the engine's code page and as UTF-16, exactly; raise
// CopyFormatError saying what does not convert.
std::string CopyTextToAnsi(std::string_view text);
std::u16string CopyTextToWide(std::string_view text);

}  // namespace orbdb
