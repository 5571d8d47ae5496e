#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/field_types.h"

namespace orb {

enum TDateFormatType : uint8_t {
  dfYYYY, dfYY, dfYEAR, dfQ, dfMONTH, dfMON, dfMM, dfM, dfRM,
  dfDDD, dfDD, dfDAY, dfDY, dfDW, dfD,
  dfHH12, dfHH24, dfHH, dfH12, dfH24, dfH, dfNN, dfN, dfSS, dfS, dfAMPM,
  dfText,
};

struct TDateFormatToken {
  TDateFormatType TokenType = dfText;
  // Literal text of a dfText token, else the word as written.
  std::u16string Text;
};

// Result of reading a date text: which parts it carried.
struct TDateFormatReadResult {
  TORBDateTime Value;
  bool HasDate = false;  // year, month and day all present and nonzero
  bool HasTime = false;  // time of day other than midnight
};

// A date format such as 'DD.MM.YYYY HH24:NN', parsed once; writes and
// reads dates with it.
class TDateFormater {
 public:
  explicit TDateFormater(std::u16string_view format);

  // Writes an engine date-time. The date part must be a valid day number.
  std::u16string ToString(const TORBDateTime& value) const;
  // Reads a text. Raises EORBException 30129 for a bad AM/PM word, and the
  // framework's Exception when the characters at a position do not form a
  // number (also when the text ends first) or the parts form no date.
  TDateFormatReadResult ToDate(std::u16string_view text) const;
  // Longest text ToString can produce.
  int32_t GetStringMaxSize() const;
  // aftDate for a format with date words only, aftTime for time words only,
  // else aftDateTime.
  TORBAdvancedFieldType GetDataType() const;

  const std::vector<TDateFormatToken>& Tokens() const { return FTokens; }

 private:
  std::vector<TDateFormatToken> FTokens;
};

}  // namespace orb
