#pragma once

// What the data-aware controls share: the text a field shows and takes
// (the field holds Windows-1252 text, the controls UTF-8/UTF-16), the
// letter case a control may force on what is typed, and how a control
// reports an error raised while it talks to its dataset.

#include <QString>
#include <QValidator>
#include <exception>

namespace orb {

class TField;

// Letter case forced on what the user types.
enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };

// The field's value as text; empty for a null value or no field.
QString FieldText(const TField* field);
// Writes `text` into `field` (empty text stores an empty value).
void SetFieldText(TField& field, const QString& text);

// `text` in `char_case`, one character at a time (the length never changes).
QString ApplyCharCase(const QString& text, TEditCharCase char_case);

// Hands an error that a control's event handler caught to the prompts'
// error message (the silent EAbort says nothing). Event handlers must not let
// exceptions into Qt's event loop.
void ReportControlError(std::exception_ptr error);

// A validator that accepts any text and converts it to one letter case
// first, so a line edit converts what is typed or pasted before anything
// else sees it.
class TCharCaseValidator final : public QValidator {
 public:
  TCharCaseValidator(TEditCharCase char_case, QObject* parent) : QValidator(parent), FCharCase(char_case) {}
  State validate(QString& input, int& /*pos*/) const override {
    input = ApplyCharCase(input, FCharCase);
    return Acceptable;
  }

 private:
  TEditCharCase FCharCase;
};

}  // namespace orb
