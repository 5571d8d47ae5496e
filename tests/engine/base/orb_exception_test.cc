#include "engine/base/orb_exception.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(EORBExceptionTest, PlainMessagePadsCodeWithZeros) {
  const EORBException e(10026, "Cannot retrieve record");
  EXPECT_STREQ(e.what(), "Cannot retrieve record - Native error: 10026");
  EXPECT_EQ(e.NativeError(), 10026);
  EXPECT_EQ(EORBException(42, "x").Message(), "x - Native error: 00042");
}

TEST(EORBExceptionTest, FormattedMessagePadsCodeWithBlanks) {
  const EORBException e(2011, "Token '%s' expected, but '%s' found at line %d, column %d",
                        {"FROM", "WHERE", 3, 14});
  EXPECT_EQ(e.Message(), "Token 'FROM' expected, but 'WHERE' found at line 3, column 14 - Native error:  2011");
  EXPECT_EQ(e.NativeError(), 2011);
}

TEST(EORBExceptionTest, MismatchedArgumentsKeepRawFormat) {
  struct Case {
    const char* format;
    FormatArgs args;
  };
  const Case cases[] = {
      {"Table '%s' not found", {7}},           // integer for %s
      {"Page No: %d", {"seven"}},              // string for %d
      {"Two: %d %d", {1}},                     // too few arguments
      {"Bad %q placeholder", {1}},             // unknown type
  };
  for (const Case& c : cases) {
    const EORBException e(20132, c.format, c.args);
    EXPECT_EQ(e.Message(), std::string(c.format) + " Arguments are invalid! - Native error: 20132") << c.format;
    EXPECT_EQ(e.NativeError(), 20132);
  }
}

TEST(EORBExceptionTest, IsAFrameworkException) {
  try {
    RaiseORB(30445, "Cannot open database - incorrect password");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Cannot open database - incorrect password - Native error: 30445");
    return;
  }
  FAIL() << "not raised";
}

TEST(EORBEngineErrorTest, StatusTexts) {
  struct Case {
    int32_t code;
    const char* passed;
    const char* text;
  };
  const Case cases[] = {
      {-1, "", "Error adding record"},
      {-4, "", "Error updating record - record was modified by another process"},
      {-7, "", "Error deleting record - record was deleted by another process"},
      {-8, "Field 'A' must have a value", "Field 'A' must have a value"},
      {-11, "", "Cannot cancel operation in temporary mode"},
      {-12, "ignored", "Record is locked"},
      {-13, "", "Table is locked"},
      {-14, "ignored", ""},
      {5, "ignored", ""},
  };
  for (const Case& c : cases) {
    const EORBEngineError e(c.code, c.passed);
    EXPECT_EQ(e.ErrorCode(), c.code);
    EXPECT_EQ(e.ErrorMessage(), c.text);
    EXPECT_EQ(e.Message(), "Orbelle Engine Error # " + std::to_string(c.code) + " " + c.text);
  }
  EXPECT_STREQ(EORBEngineError(-12, "").what(), "Orbelle Engine Error # -12 Record is locked");
}

TEST(EORBEngineErrorTest, CheckRaisesOnlyForNonZero) {
  EXPECT_NO_THROW(Check(0, "anything"));
  try {
    Check(-8, "constraint failed");
    FAIL() << "not raised";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Orbelle Engine Error # -8 constraint failed");
  }
  EXPECT_THROW(DbiError(-3, ""), EORBEngineError);
}

}  // namespace
}  // namespace orb
