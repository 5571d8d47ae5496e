#include "tools/orbdb/field_spec.h"

#include <cctype>
#include <cstdint>
#include <string>

#include "engine/base/field_types.h"
#include "engine/base/orb_exception.h"
#include "engine/expr/expression.h"
#include "engine/platform/codepage.h"

namespace orbdb {
namespace {

constexpr int32_t kErrUnknownFieldType = 30232;
constexpr int32_t kErrOpenParenExpected = 30233;
constexpr int32_t kErrSizeExpected = 30235;
constexpr int32_t kErrCloseParenExpected = 30236;
constexpr int32_t kErrUnexpectedEnd = 30161;
constexpr int32_t kErrFieldNameExpected = 30227;
constexpr int32_t kErrFieldTypeExpected = 30228;
constexpr int32_t kErrSeparatorExpected = 30229;

class SpecReader {
 public:
  explicit SpecReader(std::string_view spec) : FSpec(spec) {}

  void SkipBlanks() {
    while (FPos < FSpec.size() && std::isspace(static_cast<unsigned char>(FSpec[FPos]))) ++FPos;
  }
  bool AtEnd() {
    SkipBlanks();
    return FPos >= FSpec.size();
  }
  char Peek() { return AtEnd() ? '\0' : FSpec[FPos]; }
  int32_t Column() const { return static_cast<int32_t>(FPos) + 1; }
  // The token at the position, for messages.
  std::string Token() {
    if (AtEnd()) return "";
    size_t end = FPos;
    while (end < FSpec.size() && IsWordChar(FSpec[end])) ++end;
    if (end == FPos) ++end;
    return std::string(FSpec.substr(FPos, end - FPos));
  }

  [[noreturn]] void Fail(int32_t code, std::string_view format) {
    if (AtEnd()) {
      orb::RaiseORB(kErrUnexpectedEnd, "Unexpected end of SQL command found at line %d, column %d",
                    {1, Column()});
    }
    orb::RaiseORB(code, format, {Token(), 1, Column()});
  }

  // A word, or a double-quoted name; empty when there is none.
  std::string Name() {
    if (AtEnd()) return "";
    if (FSpec[FPos] == '"') {
      std::string name;
      size_t i = FPos + 1;
      for (;;) {
        if (i >= FSpec.size()) return "";
        if (FSpec[i] == '"') {
          if (i + 1 < FSpec.size() && FSpec[i + 1] == '"') {
            name += '"';
            i += 2;
            continue;
          }
          break;
        }
        name += FSpec[i++];
      }
      if (name.empty()) return "";
      FPos = i + 1;
      return name;
    }
    return Word();
  }
  std::string Word() {
    if (AtEnd()) return "";
    const size_t start = FPos;
    while (FPos < FSpec.size() && IsWordChar(FSpec[FPos])) ++FPos;
    return std::string(FSpec.substr(start, FPos - start));
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++FPos;
    return true;
  }

 private:
  static bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

  std::string_view FSpec;
  size_t FPos = 0;
};

}  // namespace

void ParseFieldSpec(std::string_view spec, orb::TORBFieldDefs& defs) {
  SpecReader reader(spec);
  for (;;) {
    const std::string name = reader.Name();
    if (name.empty()) reader.Fail(kErrFieldNameExpected, "Field name expected, but '%s' found at line %d, column %d");
    const int32_t type_column = (reader.SkipBlanks(), reader.Column());
    const std::string type_name = reader.Word();
    if (type_name.empty()) reader.Fail(kErrFieldTypeExpected, "Field type expected, but '%s' found at line %d, column %d");
    const orb::TORBAdvancedFieldType type = orb::GetFieldType(orb::AnsiToWide(type_name));
    if (type == orb::aftUnknown) {
      orb::RaiseORB(kErrUnknownFieldType, "Unknown field type '%s' at line %d, column %d", {type_name, 1, type_column});
    }
    int32_t size = 0;
    if (orb::IsSizebleFieldType(type)) {
      if (!reader.Take('(')) reader.Fail(kErrOpenParenExpected, "'(' symbol expected, but '%s' found at line %d, column %d");
      const std::string digits = (reader.SkipBlanks(), reader.Word());
      if (digits.empty() || digits.size() > 9 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        if (!digits.empty()) {
          orb::RaiseORB(kErrSizeExpected, "Decimal constant expected, but '%s' found at line %d, column %d",
                        {digits, 1, reader.Column() - static_cast<int32_t>(digits.size())});
        }
        reader.Fail(kErrSizeExpected, "Decimal constant expected, but '%s' found at line %d, column %d");
      }
      size = std::stoi(digits);
      if (!reader.Take(')')) reader.Fail(kErrCloseParenExpected, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
    }
    orb::TORBFieldDef* def = defs.AddCreated();
    def->SetName(name);
    def->SetFieldDefDataType(type, size);
    if (reader.AtEnd()) return;
    if (!reader.Take(',')) reader.Fail(kErrSeparatorExpected, "')' or ',' symbol expected, but '%s' found at line %d, column %d");
  }
}

}  // namespace orbdb
