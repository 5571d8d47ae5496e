#include "ui/db_control.h"

#include "components/db_common.h"
#include "components/field.h"
#include "components/prompts.h"
#include "engine/platform/codepage.h"

namespace orb {

namespace {

bool IsWideText(const TField& field) {
  return field.DataType() == ftWideString || field.DataType() == ftWideMemo;
}

}  // namespace

QString FieldText(const TField* field) {
  if (field == nullptr || field->IsNull()) return {};
  if (IsWideText(*field)) {
    const std::u16string wide = field->AsWideString();
    return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
  }
  return QString::fromStdString(AnsiToUtf8(field->AsString()));
}

void SetFieldText(TField& field, const QString& text) {
  if (IsWideText(field)) {
    field.SetAsWideString(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                              static_cast<size_t>(text.size())));
    return;
  }
  field.SetAsString(Utf8ToAnsi(text.toStdString()));
}

QString ApplyCharCase(const QString& text, TEditCharCase char_case) {
  if (char_case == ecNormal) return text;
  QString result = text;
  for (QChar& c : result) c = char_case == ecLowerCase ? c.toLower() : c.toUpper();
  return result;
}

void ReportControlError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    Prompts().ShowError(e.what());
  } catch (...) {
    Prompts().ShowError("Unknown error");
  }
}

}  // namespace orb
