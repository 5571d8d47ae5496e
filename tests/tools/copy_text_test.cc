#include "tools/orbdb/copy_text.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "engine/base/field_defs.h"
#include "tests/support/raised.h"
#include "tools/orbdb/copy_stream.h"
#include "tools/orbdb/copy_value.h"
#include "tools/orbdb/field_spec.h"

namespace orbdb {
namespace {

using orb::test::RaisedCode;

TEST(CopyTextTest, FormatsLikeCopy) {
  const std::vector<CopyField> row = {std::string("plain"), std::nullopt, std::string("a\tb\nc\\d\re"),
                                      std::string(""), std::string("\\N")};
  EXPECT_EQ(FormatCopyRow(row), "plain\t\\N\ta\\tb\\nc\\\\d\\re\t\t\\\\N");
  EXPECT_EQ(FormatCopyRow({}), "");
}

TEST(CopyTextTest, ParsesEscapesNullsAndEmptyFields) {
  struct Case {
    std::string line;
    std::vector<CopyField> fields;
  };
  const Case cases[] = {
      {"", {std::string("")}},
      {"\t", {std::string(""), std::string("")}},
      {"\\N\tx", {std::nullopt, std::string("x")}},
      {"\\\\N", {std::string("\\N")}},
      {"a\\tb\\nc\\rd\\be\\ff\\vg", {std::string("a\tb\nc\rd\be\ff\vg")}},
      {"\\101\\7\\0101", {std::string("A\a\b1")}},
      {"\\x41\\x4g\\xz", {std::string("A\x04gxz")}},
      {"\\q\\\t", {std::string("q\t")}},  // an escaped tab is data
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseCopyRow(c.line), c.fields) << c.line;
  }
  EXPECT_THROW(ParseCopyRow("ab\\"), CopyFormatError);
  EXPECT_THROW(ParseCopyRow("ab\\\tc\\"), CopyFormatError);
}

TEST(CopyTextTest, EveryByteStringRoundTrips) {
  std::mt19937 random(7);
  for (int round = 0; round < 500; ++round) {
    std::vector<CopyField> row;
    const int count = 1 + static_cast<int>(random() % 5);
    for (int i = 0; i < count; ++i) {
      if (random() % 6 == 0) {
        row.emplace_back(std::nullopt);
        continue;
      }
      std::string value(random() % 12, '\0');
      for (char& c : value) c = static_cast<char>(random() % 256);
      row.emplace_back(value);
    }
    const std::string line = FormatCopyRow(row);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(ParseCopyRow(line), row);
  }
}

TEST(CopyTextTest, BinaryValuesAreHex) {
  const std::string bytes("\x00\x41\xff\x10", 4);
  EXPECT_EQ(FormatCopyBytes(bytes), "\\x0041ff10");
  EXPECT_EQ(ParseCopyBytes("\\x0041FF10"), bytes);
  EXPECT_EQ(ParseCopyBytes("\\x"), "");
  // In a line the backslash of the hex form is escaped, as it is for
  // byte arrays in COPY.
  EXPECT_EQ(FormatCopyRow({FormatCopyBytes("AB")}), "\\\\x4142");
  EXPECT_EQ(ParseCopyBytes(*ParseCopyRow("\\\\x4142")[0]), "AB");
  for (const char* bad : {"", "x41", "\\x4", "\\x4g", "41"}) {
    EXPECT_THROW(ParseCopyBytes(bad), CopyFormatError) << bad;
  }
}

TEST(FieldSpecTest, BuildsFieldDefinitions) {
  orb::TORBFieldDefs defs;
  ParseFieldSpec(" ID integer, \"Full name\" VARCHAR2( 40 ) ,Notes MEMO,Raw bytes(8),n AUTOINC", defs);
  ASSERT_EQ(defs.GetCount(), 5);
  struct Expected {
    const char* name;
    orb::TORBAdvancedFieldType type;
    int32_t size;
  };
  const Expected expected[] = {{"ID", orb::aftInteger, 0},
                               {"Full name", orb::aftString, 40},
                               {"Notes", orb::aftMemo, 0},
                               {"Raw", orb::aftBytes, 8},
                               {"n", orb::aftAutoInc, 0}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(defs.GetDef(i)->GetName(), expected[i].name);
    EXPECT_EQ(defs.GetDef(i)->FAdvancedFieldType, expected[i].type) << i;
    EXPECT_EQ(defs.GetDef(i)->FFieldSize, expected[i].size) << i;
  }
}

TEST(FieldSpecTest, MistakesRaiseTheColumnDefinitionCodes) {
  struct Case {
    const char* spec;
    int32_t code;
  };
  const Case cases[] = {
      {"", 30161},        {"a", 30161},           {"a VARCHAR", 30161},     {"a VARCHAR(", 30161},
      {"a VARCHAR(4", 30161}, {"a BANANA", 30232}, {"a VARCHAR 4", 30233}, {"a VARCHAR(x)", 30235},
      {"a CHAR(4]", 30236}, {"a INTEGER b", 30229}, {", a INTEGER", 30227}, {"a (", 30228},
      {"a INTEGER,", 30161}, {"a VARCHAR(9999999999)", 30235},
  };
  for (const Case& c : cases) {
    orb::TORBFieldDefs defs;
    EXPECT_EQ(RaisedCode([&] { ParseFieldSpec(c.spec, defs); }), c.code) << c.spec;
  }
}

}  // namespace
}  // namespace orbdb

namespace orbdb {
namespace {

TEST(CopyValueTest, ValuesRoundTripThroughText) {
  struct Case {
    orb::TORBBaseFieldType type;
    const char* text;
  };
  const Case cases[] = {
      {orb::bftVarchar, "Gr\xc3\xbc\xc3\x9f" "e"},  // UTF-8 in, code page inside
      {orb::bftWideVarchar, "\xce\xb1\xce\xb2"},
      {orb::bftSignedInt8, "-128"},
      {orb::bftSignedInt16, "32767"},
      {orb::bftSignedInt32, "-2147483648"},
      {orb::bftSignedInt64, "9223372036854775807"},
      {orb::bftUnsignedInt8, "255"},
      {orb::bftUnsignedInt16, "65535"},
      {orb::bftUnsignedInt32, "4294967295"},
      {orb::bftSingle, "1.5"},
      {orb::bftDouble, "0.1"},
      {orb::bftCurrency, "12.3456"},
      {orb::bftLogical, "t"},
      {orb::bftLogical, "f"},
      {orb::bftDate, "1753-02-28"},
      {orb::bftDate, "0001-01-01"},
      {orb::bftTime, "23:59:59.999"},
      {orb::bftDateTime, "2024-03-05 10:11:12"},
      {orb::bftDateTime, "1899-12-29"},
      {orb::bftBytes, "\\x00ff10"},
  };
  for (const Case& c : cases) {
    const orb::TORBVariant value = CopyTextToValue(c.text, c.type);
    EXPECT_EQ(value.DataType(), c.type) << c.text;
    EXPECT_EQ(ValueToCopyText(value), std::optional<std::string>(c.text)) << c.text;
  }
  EXPECT_EQ(ValueToCopyText(orb::TORBVariant(orb::bftSignedInt32)), std::nullopt);
  EXPECT_TRUE(CopyTextToValue("YES", orb::bftLogical).AsBoolean());
  EXPECT_FALSE(CopyTextToValue("off", orb::bftLogical).AsBoolean());
}

TEST(CopyValueTest, TextThatIsNotAValueIsRefused) {
  struct Case {
    orb::TORBBaseFieldType type;
    const char* text;
  };
  const Case cases[] = {
      {orb::bftSignedInt32, "2147483648"}, {orb::bftSignedInt32, "12x"},  {orb::bftSignedInt8, "200"},
      {orb::bftUnsignedInt16, "-1"},       {orb::bftSingle, "1e39"},      {orb::bftDouble, "abc"},
      {orb::bftLogical, "maybe"},          {orb::bftDate, "2024-13-01"},  {orb::bftTime, "25:00"},
      {orb::bftDateTime, "yesterday"},     {orb::bftVarBytes, "0041"},    {orb::bftSignedInt64, ""},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(CopyTextToValue(c.text, c.type), CopyFormatError) << c.text;
  }
}

TEST(CopyValueTest, BlobContentsByType) {
  EXPECT_EQ(BlobToCopyText("caf\xe9", orb::bftClob), "caf\xc3\xa9");
  EXPECT_EQ(CopyTextToBlob("caf\xc3\xa9", orb::bftClob), "caf\xe9");
  const std::string wide("\xb1\x03\x41\x00", 4);  // alpha, 'A' in UTF-16LE
  EXPECT_EQ(BlobToCopyText(wide, orb::bftWideClob), "\xce\xb1" "A");
  EXPECT_EQ(CopyTextToBlob("\xce\xb1" "A", orb::bftWideClob), wide);
  EXPECT_EQ(BlobToCopyText(std::string("\x00\x01", 2), orb::bftBlob), "\\x0001");
  EXPECT_EQ(CopyTextToBlob("\\x0001", orb::bftBlob), std::string("\x00\x01", 2));
  EXPECT_THROW(CopyTextToBlob("plain", orb::bftBlob), CopyFormatError);
}

}  // namespace
}  // namespace orbdb

namespace orbdb {
namespace {

// Lines of every length cross the reader's block boundaries; a row parsed
// into a reused vector gives what a fresh parse gives.
TEST(CopyStreamTest, LinesAcrossBlocksAndReusedRows) {
  std::string input;
  std::vector<std::string> lines;
  for (int i = 0; i < 200; ++i) {
    std::string line = std::to_string(i) + "\t" + std::string(static_cast<size_t>(i * 7 % 23), 'a') + "\\t\\N";
    if (i % 5 == 0) line += "\t\\N";
    lines.push_back(line);
    input += line + (i % 3 == 0 ? "\r\n" : "\n");
  }
  input += "last";  // no line end
  lines.push_back("last");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fds[1]);
  TCopyLineReader reader(fds[0], "test input", 16);
  std::string_view line;
  std::vector<CopyField> row;
  size_t n = 0;
  while (reader.NextLine(line)) {
    ASSERT_LT(n, lines.size());
    EXPECT_EQ(line, lines[n]);
    const size_t count = ParseCopyRow(line, row);
    EXPECT_EQ(std::vector<CopyField>(row.begin(), row.begin() + static_cast<ptrdiff_t>(count)), ParseCopyRow(line))
        << line;
    ++n;
  }
  close(fds[0]);
  EXPECT_EQ(n, lines.size());
  EXPECT_EQ(reader.BytesRead(), static_cast<int64_t>(input.size()));

  // A writer's lines come out whole and in order.
  ASSERT_EQ(pipe(fds), 0);
  {
    TCopyWriter writer(fds[1], "test output", 8);
    for (const char* text : {"one\ttwo", "", "three\\n"}) {
      AppendCopyText(writer.Line(), text);
      writer.EndLine();
    }
    writer.Flush();
  }
  close(fds[1]);
  char buffer[64];
  const ssize_t got = read(fds[0], buffer, sizeof(buffer));
  close(fds[0]);
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(got)), "one\\ttwo\n\nthree\\\\n\n");
}

}  // namespace
}  // namespace orbdb
