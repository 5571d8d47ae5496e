// orbdb eval: evaluates a constant SQL expression.

#include <iostream>
#include <memory>
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

struct EvalOptions {
  std::string text;
  bool with_type = false;
};

int RunEval(const EvalOptions& options) {
  orb::TORBExpression expression;
  expression.ParseForCondition(orb::Utf8ToWide(options.text));
  NoFields no_fields;
  expression.AssignResolver(&no_fields);
  if (expression.IsAggregated()) {
    // Aggregates see the expression's single row.
    expression.Init();
    expression.Accumulate();
  }
  const orb::TORBVariant& value = expression.GetValue();
  const std::string shown = ValueText(value);
  if (options.with_type) std::cout << orb::WideToUtf8(orb::BftToStr(value.DataType())) << "\t";
  std::cout << shown << "\n";
  return 0;
}

void AddEvalCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand(
      "eval", "evaluate a constant SQL expression and print its value (--type: type name, tab, value)");
  auto options = std::make_shared<EvalOptions>();
  sub->add_flag("--type", options->with_type, "print the value's type name and a tab first");
  sub->add_option("EXPR", options->text, "the expression")->required();
  OnRun(sub, [options] { return RunEval(*options); });
}

const CommandRegistration kEval{"eval", AddEvalCommand};

}  // namespace
}  // namespace orbdb
