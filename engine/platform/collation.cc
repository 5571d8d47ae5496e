#include "engine/platform/collation.h"

#include <unicode/ucol.h>

#include <stdexcept>
#include <string>

#include "engine/platform/codepage.h"

namespace orb {

namespace {

class ThreadCollator {
 public:
  explicit ThreadCollator(UCollationStrength strength) {
    UErrorCode status = U_ZERO_ERROR;
    FCollator = ucol_open("", &status);  // "" is the root collation
    if (U_FAILURE(status) || FCollator == nullptr) {
      throw std::runtime_error(std::string("Cannot create the root collator: ") + u_errorName(status));
    }
    ucol_setStrength(FCollator, strength);
  }
  ~ThreadCollator() { ucol_close(FCollator); }
  ThreadCollator(const ThreadCollator&) = delete;
  ThreadCollator& operator=(const ThreadCollator&) = delete;

  int Compare(std::u16string_view a, std::u16string_view b) const {
    UCollationResult r = ucol_strcoll(FCollator, reinterpret_cast<const UChar*>(a.data()),
                                      static_cast<int32_t>(a.size()), reinterpret_cast<const UChar*>(b.data()),
                                      static_cast<int32_t>(b.size()));
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
  }

 private:
  UCollator* FCollator = nullptr;
};

const ThreadCollator& Collator(bool case_sensitive) {
  if (case_sensitive) {
    thread_local ThreadCollator tertiary(UCOL_TERTIARY);
    return tertiary;
  }
  thread_local ThreadCollator secondary(UCOL_SECONDARY);
  return secondary;
}

}  // namespace

int CompareTextW(std::u16string_view a, std::u16string_view b, bool case_sensitive) {
  if (a == b) return 0;
  return Collator(case_sensitive).Compare(a, b);
}

int CompareTextA(std::string_view a, std::string_view b, bool case_sensitive) {
  if (a == b) return 0;
  thread_local std::u16string wa, wb;
  wa.resize(a.size());
  wb.resize(b.size());
  for (size_t i = 0; i < a.size(); ++i) wa[i] = AnsiCharToWide(static_cast<unsigned char>(a[i]));
  for (size_t i = 0; i < b.size(); ++i) wb[i] = AnsiCharToWide(static_cast<unsigned char>(b[i]));
  return Collator(case_sensitive).Compare(wa, wb);
}

}  // namespace orb
