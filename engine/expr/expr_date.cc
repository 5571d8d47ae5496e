#include "engine/base/orb_exception.h"
#include "engine/platform/clock.h"
#include "engine/platform/codepage.h"
#include "engine/expr/expression_nodes.h"
#include "engine/base/date_time_convert.h"

namespace orb {

namespace {

TORBDateTime CurrentDateTime() {
  const LocalDateTime now = NowLocal();
  TORBDateTime result;
  TryEncodeORBDate(now.year, now.month, now.day, result.Date);
  TryEncodeORBTime(now.hour, now.minute, now.second, now.millisecond, result.Time);
  return result;
}

// Calendar date of a day number; the framework's date 0 when the value
// has no date part.
void DecodeDatePart(int32_t day_number, int& year, int& month, int& day) {
  if (!TryDecodeORBDate(day_number, year, month, day)) TryDecodeORBDate(kDateDelta, year, month, day);
}

}  // namespace

TORBVariant& TORBExprNodeDateFunction::GetDataValue() {
  switch (Operator) {
    case doSYSDATE:
      Value.Clear(bftDateTime);
      Value.SetAsORBDateTime(CurrentDateTime());
      break;
    case doCURRENT_DATE:
      Value.Clear(bftDate);
      Value.SetAsORBDate(CurrentDateTime().Date);
      break;
    case doCURRENT_TIME:
      Value.Clear(bftTime);
      Value.SetAsORBTime(CurrentDateTime().Time);
      break;
    case doTODATE: {
      const TORBVariant& text = Child(0)->GetDataValue();
      if (text.IsNull()) {
        Value.Clear(AdvancedFieldTypeToBaseFieldType(DateFormater->GetDataType()));
        break;
      }
      const TDateFormatReadResult r = DateFormater->ToDate(text.AsWideString());
      if (!r.HasDate) {
        Value.Clear(bftTime);
        Value.SetAsORBTime(r.Value.Time);
      } else if (!r.HasTime) {
        Value.Clear(bftDate);
        Value.SetAsORBDate(r.Value.Date);
      } else {
        Value.Clear(bftDateTime);
        Value.SetAsORBDateTime(r.Value);
      }
      break;
    }
    case doTOSTRING: {
      const TORBVariant& x = Child(0)->GetDataValue();
      Value.Clear(bftVarchar);
      if (!x.IsNull()) Value.SetAsAnsiString(WideToAnsi(DateFormater->ToString(x.AsORBDateTime())));
      break;
    }
    case doEXTRACT: {
      const TORBVariant& x = Child(0)->GetDataValue();
      Value.Clear(bftUnsignedInt16);
      if (x.IsNull()) break;
      int part = 0;
      if (ExtractDateTimeField <= dtefDay) {
        int year = 0, month = 0, day = 0;
        DecodeDatePart(x.AsORBDate(), year, month, day);
        part = ExtractDateTimeField == dtefYear ? year : (ExtractDateTimeField == dtefMonth ? month : day);
      } else {
        int hour = 0, minute = 0, second = 0, msec = 0;
        const int32_t time = x.AsORBTime();
        DecodeORBTime(time >= 0 && time < kMSecsPerDay ? time : 0, hour, minute, second, msec);
        part = ExtractDateTimeField == dtefHour ? hour : (ExtractDateTimeField == dtefMinute ? minute : second);
      }
      Value.SetAsWord(static_cast<uint16_t>(part));
      break;
    }
    default:
      RaiseORB(30287, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
  return Value;
}

TORBAdvancedFieldType TORBExprNodeDateFunction::GetDataType() {
  switch (Operator) {
    case doSYSDATE: return aftDateTime;
    case doCURRENT_DATE: return aftDate;
    case doCURRENT_TIME: return aftTime;
    case doTODATE: return DateFormater->GetDataType();
    case doTOSTRING: return aftString;
    case doEXTRACT: return aftWord;
    default:
      RaiseORB(30287, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
}

int32_t TORBExprNodeDateFunction::GetDataSize() {
  return Operator == doTOSTRING ? DateFormater->GetStringMaxSize() : 0;
}

}  // namespace orb
