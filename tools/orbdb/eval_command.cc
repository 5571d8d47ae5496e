// orbdb eval: evaluates a constant SQL expression.

#include <iostream>
#include <string>

#include "engine/platform/codepage.h"
#include "engine/expr/expression.h"
#include "tools/orbdb/command.h"

namespace orbdb {
namespace {

// An expression evaluated on its own has no fields to read.
class NoFields : public orb::TORBFieldResolver {
 public:
  bool FindField(std::u16string_view, std::u16string_view, orb::TORBFieldInfo&) override { return false; }
  void ReadFieldValue(const orb::TORBFieldInfo&, orb::TORBVariant&) override {}
};

std::string ValueText(const orb::TORBVariant& value) {
  if (value.IsNull()) return "NULL";
  if (value.IsBlobDataType()) {
    const auto* bytes = static_cast<const char*>(value.Data());
    return orb::AnsiToUtf8(std::string_view(bytes, static_cast<size_t>(value.DataSize())));
  }
  return orb::WideToUtf8(value.AsWideString());
}

int RunEval(const Args& args) {
  bool with_type = false;
  std::string text;
  bool have_text = false;
  for (const std::string& a : args) {
    if (a == "--type" && !with_type && !have_text) {
      with_type = true;
    } else if (!have_text) {
      text = a;
      have_text = true;
    } else {
      throw UsageError{"expected one expression"};
    }
  }
  if (!have_text) throw UsageError{"missing expression"};

  orb::TORBExpression expression;
  expression.ParseForCondition(orb::Utf8ToWide(text));
  NoFields no_fields;
  expression.AssignResolver(&no_fields);
  if (expression.IsAggregated()) {
    // Aggregates see the expression's single row.
    expression.Init();
    expression.Accumulate();
  }
  const orb::TORBVariant& value = expression.GetValue();
  const std::string shown = ValueText(value);
  if (with_type) std::cout << orb::WideToUtf8(orb::BftToStr(value.DataType())) << "\t";
  std::cout << shown << "\n";
  return 0;
}

const Command kEval{"eval", "[--type] EXPR",
                    "evaluate a constant SQL expression and print its value (--type: type name, tab, value)",
                    RunEval};

}  // namespace
}  // namespace orbdb
