#include "engine/expr/sql_engine_init.h"

#include <memory>

#include "engine/base/field_defs.h"
#include "engine/expr/expression.h"

namespace orb {

namespace {

// A field default evaluated anew for every inserted record.
class TORBSQLDefaultValueExpr : public TORBDefaultValueExpr {
 public:
  bool Parse(const std::u16string& text) { return FExpression.ParseForDefaultValueExpression(text); }
  void Evaluate(TORBVariant& result) override { result.Assign(FExpression.GetValue(), true); }

 private:
  TORBExpression FExpression;
};

std::unique_ptr<TORBDefaultValueExpr> ParseDefaultValue(const TORBVariant& value) {
  try {
    if (!IsNonConstantExpression(value)) return nullptr;
    auto expr = std::make_unique<TORBSQLDefaultValueExpr>();
    if (!expr->Parse(value.AsWideString())) return nullptr;
    return expr;
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace

void InitSqlEngine() { SetDefaultValueExprParser(&ParseDefaultValue); }

}  // namespace orb
