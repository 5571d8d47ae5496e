#pragma once

// A row of named fields for binding expressions in tests, and evaluation
// helpers.

#include <map>
#include <string>

#include "engine/platform/codepage.h"
#include "engine/expr/expression.h"
#include "engine/expr/sql_names.h"

namespace orb::test {

class TestRow : public TORBFieldResolver {
 public:
  // Adds a field; `value` may be null (of the field's kind).
  void Add(const std::string& name, TORBAdvancedFieldType type, const TORBVariant& value, int32_t size = 0) {
    Field f;
    f.info.FieldNo = static_cast<int32_t>(FFields.size());
    f.info.FieldType = type;
    f.info.BaseFieldType = AdvancedFieldTypeToBaseFieldType(type);
    f.info.FieldSize = size;
    f.value = value;
    FFields[SqlNameUpper(Utf8ToWide(name))] = f;
  }
  void AddInt(const std::string& name, int32_t v) {
    TORBVariant value(bftSignedInt32);
    value.SetAsInteger(v);
    Add(name, aftInteger, value);
  }
  void AddString(const std::string& name, const std::string& v, int32_t size = 20) {
    TORBVariant value(bftVarchar);
    value.SetAsAnsiString(v);
    Add(name, aftString, value, size);
  }
  void AddNull(const std::string& name, TORBAdvancedFieldType type, int32_t size = 0) {
    Add(name, type, TORBVariant(AdvancedFieldTypeToBaseFieldType(type)), size);
  }
  void Set(const std::string& name, const TORBVariant& value) {
    FFields.at(SqlNameUpper(Utf8ToWide(name))).value = value;
  }

  bool FindField(std::u16string_view, std::u16string_view field_name, TORBFieldInfo& info) override {
    auto it = FFields.find(SqlNameUpper(field_name));
    if (it == FFields.end()) return false;
    info = it->second.info;
    return true;
  }
  void ReadFieldValue(const TORBFieldInfo& info, TORBVariant& value) override {
    for (auto& [name, f] : FFields) {
      if (f.info.FieldNo == info.FieldNo) {
        value.Assign(f.value, false);
        return;
      }
    }
  }

 private:
  struct Field {
    TORBFieldInfo info;
    TORBVariant value;
  };
  std::map<std::u16string, Field> FFields;
};

// Text of a value as the command-line tool shows it.
inline std::string Text(const TORBVariant& v) {
  if (v.IsNull()) return "NULL";
  return WideToUtf8(v.AsWideString());
}

// Parses `text` as a condition, binds it to `row` (may be null) and
// evaluates it.
inline TORBVariant Eval(const std::string& text, TORBFieldResolver* row = nullptr,
                        bool case_insensitive = false) {
  TORBExpression e;
  if (case_insensitive) {
    e.ParseForFilter(row, Utf8ToWide(text), true, false);
  } else {
    e.ParseForCondition(Utf8ToWide(text));
    e.AssignResolver(row);
  }
  if (e.IsAggregated()) {
    e.Init();
    e.Accumulate();
  }
  return e.GetValue();
}

inline std::string EvalText(const std::string& text, TORBFieldResolver* row = nullptr) {
  return Text(Eval(text, row));
}

// "TYPE value" of an evaluated expression.
inline std::string EvalTyped(const std::string& text, TORBFieldResolver* row = nullptr) {
  const TORBVariant v = Eval(text, row);
  return WideToUtf8(BftToStr(v.DataType())) + " " + Text(v);
}

}  // namespace orb::test
