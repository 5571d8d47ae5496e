#include "engine/expr/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/expr/sql_params.h"

namespace orb {
namespace {

std::string Utf8(const std::u16string& s) { return WideToUtf8(s); }

std::string ShortType(TTokenType t) {
  switch (t) {
    case tktNone: return "none";
    case tktString: return "S";
    case tktQuotedString: return "Q";
    case tktBracketedString: return "B";
    case tktInt: return "I";
    case tktFloat: return "F";
    case tktReservedWord: return "R";
    case tktParameter: return "P";
    case tktLeftParenthesis: return "(";
    case tktRightParenthesis: return ")";
    case tktComma: return ",";
    case tktDot: return ".";
  }
  return "?";
}

// Commands of a script as "type:text type:text ; type:text ...".
std::string Describe(const std::string& sql, const TORBSQLParams* params = nullptr,
                     bool no_params = true) {
  TORBLexer lex(sql, params, no_params);
  std::string out;
  for (int32_t c = 0; c < lex.NumCommands(); ++c) {
    if (c > 0) out += " ; ";
    bool first = true;
    for (const TToken& t : lex.Command(c).Tokens) {
      if (!first) out += " ";
      first = false;
      out += ShortType(t.TokenType) + ":" + Utf8(t.Text);
    }
  }
  return out;
}

TEST(LexerTest, TokenTable) {
  struct Case {
    const char* sql;
    const char* tokens;
  };
  const Case cases[] = {
      {"select a,b from t", "R:select S:a ,:, S:b R:from S:t"},
      {"x>=1", "S:x S:>= I:1"},
      {"a<>b", "S:a S:<> S:b"},
      {"a<b", "S:a S:< S:b"},
      {"a<=b", "S:a S:<= S:b"},
      {"a>b", "S:a S:> S:b"},
      {"a||b", "S:a S:|| S:b"},
      {"a!=b", "S:a! S:= S:b"},
      {"1e+5", "F:1e+5"},
      {"1.5", "F:1.5"},
      {".5", "F:.5"},
      {"1+2", "I:1 S:+ I:2"},
      {"1-2", "I:1 S:- I:2"},
      {"a-b", "S:a S:- S:b"},
      {"a+b*c/d=e", "S:a S:+ S:b S:* S:c S:/ S:d S:= S:e"},
      {"2.5E-3*x", "F:2.5E-3 S:* S:x"},
      {"t.a", "S:t .:. S:a"},
      {"t. a", "S:t .:. S:a"},
      {"t.[a b]", "S:t .:. B:a b"},
      {"'it''s'", "Q:it's"},
      {"\"col name\"", "Q:col name"},
      {"[order]", "B:order"},
      {"`select`", "S:select"},
      {"`a\\`b`", "S:a`b"},
      {"`a``b`", "S:a`b"},
      {"SeLeCt", "R:SeLeCt"},
      {"abc/*x*/def", "S:abcdef"},
      {"abc -- note\ndef", "S:abc S:def"},
      {"abc-- note\ndef", "S:abc S:def"},
      {"f(1,2)", "S:f (:( I:1 ,:, I:2 ):)"},
      {"a:=b", "S:a S:: S:= S:b"},
      {":p", "S::p"},
      {"?", "S:?"},
      {"lastautoinc end-exec", "R:lastautoinc R:end S:- R:exec"},
      {"'a;b'", "Q:a;b"},
      {"x\t\r\ny", "S:x S:y"},
      {"", ""},
      {"  -- only a comment", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(c.sql), c.tokens) << c.sql;
  }
}

TEST(LexerTest, KeywordIdentity) {
  TORBLexer lex("select lastautoinc [select] rndup `from`", nullptr, true);
  const auto& tokens = lex.Command(0).Tokens;
  ASSERT_EQ(tokens.size(), 5u);
  EXPECT_EQ(tokens[0].ReservedWord, rwSELECT);
  EXPECT_EQ(tokens[1].ReservedWord, rwLAST_AUTOINC);
  EXPECT_EQ(tokens[2].ReservedWord, rwNone);
  EXPECT_EQ(tokens[3].ReservedWord, rwRNDUP);
  EXPECT_EQ(tokens[4].ReservedWord, rwNone);
  EXPECT_TRUE(IsReservedWord(tokens[0], rwSELECT));
  EXPECT_TRUE(IsReservedWord(tokens[0], rwNone));
  EXPECT_FALSE(IsReservedWord(tokens[0], rwFROM));
  EXPECT_FALSE(IsReservedWord(tokens[2], rwNone));
  EXPECT_EQ(FindReservedWord(u"rndup"), rwRNDUP);
  EXPECT_EQ(FindReservedWord(u"action"), rwACTION);
  EXPECT_EQ(FindReservedWord(u"nosuch"), std::nullopt);
  EXPECT_EQ(kReservedWordCount, 291);
}

TEST(LexerTest, Commands) {
  EXPECT_EQ(Describe("select a,b from t; ; select 1"),
            "R:select S:a ,:, S:b R:from S:t ; R:select I:1");
  EXPECT_EQ(Describe(";;;"), "");
  EXPECT_EQ(Describe("a;b;"), "S:a ; S:b");
}

TEST(LexerTest, Positions) {
  TORBLexer lex("select\r\n  a, /* two\nlines */ b -- c\n'x\ny' z", nullptr, true);
  const auto& t = lex.Command(0).Tokens;
  ASSERT_EQ(t.size(), 6u);
  struct Pos {
    int line, column;
  };
  const Pos expected[] = {{1, 1}, {2, 3}, {2, 4}, {3, 10}, {4, 1}, {5, 4}};
  for (size_t i = 0; i < t.size(); ++i) {
    EXPECT_EQ(t[i].LineNum, expected[i].line) << i;
    EXPECT_EQ(t[i].ColumnNum, expected[i].column) << i;
  }
  EXPECT_EQ(Utf8(t[4].Text), "x\ny");
}

struct ErrorCase {
  const char* sql;
  int32_t code;
  const char* message;
};

TEST(LexerTest, Errors) {
  const ErrorCase cases[] = {
      {"select 'abc", 30061, "Unterminated string at line 1, column 8 - Native error: 30061"},
      {"select [abc", 30061, "Unterminated string at line 1, column 8"},
      {"select (1", 30059, "Missing symbol ')' at line 1, column 8"},
      {"select 1)", 30060, "Unexpected symbol ')' found at line 1, column 9"},
      {"select\n (1, (2))) ; x", 30060, "Unexpected symbol ')' found at line 2, column 10"},
      {"12abc", 30062, "Invalid numeric symbol 'a' at line 1, column 3"},
      {"x =\n 1x", 30062, "Invalid numeric symbol 'x' at line 2, column 3"},
      {"ok; select (", 30059, "Missing symbol ')' at line 1, column 12"},
  };
  for (const ErrorCase& c : cases) {
    try {
      TORBLexer lex(c.sql, nullptr, true);
      ADD_FAILURE() << "no error for " << c.sql;
    } catch (const EORBException& e) {
      EXPECT_EQ(e.NativeError(), c.code) << c.sql;
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.sql << ": " << e.what();
    }
  }
}

TEST(LexerTest, NamedParametersAreBoundWhileLexing) {
  TORBSQLParams params;
  TORBSQLParam* p = params.AddCreated();
  p->Name = u"Limit";
  p->SetAsInteger(42);
  TORBSQLParam* q = params.AddCreated();
  q->Name = u"two words";
  q->SetAsAnsiString("txt");

  TORBLexer lex("x < :limit and y = :\"two words\" and z = :[Two Words]", &params, false);
  const auto& t = lex.Command(0).Tokens;
  ASSERT_EQ(t.size(), 11u);
  EXPECT_EQ(t[2].TokenType, tktParameter);
  EXPECT_EQ(Utf8(t[2].Text), "limit");
  ASSERT_TRUE(t[2].ParamValue);
  EXPECT_EQ(t[2].ParamValue->AsInteger(), 42);
  EXPECT_EQ(t[6].TokenType, tktParameter);
  EXPECT_EQ(Utf8(t[6].Text), "two words");
  EXPECT_EQ(t[6].ParamValue->AsAnsiString(), "txt");
  EXPECT_EQ(t[10].TokenType, tktParameter);

  // The token holds a copy: later changes to the list do not reach it.
  p->SetAsInteger(7);
  EXPECT_EQ(t[2].ParamValue->AsInteger(), 42);
}

TEST(LexerTest, PositionalParameters) {
  TORBSQLParams params;
  for (int i = 0; i < 3; ++i) params.AddCreated()->SetAsInteger(10 + i);
  TORBLexer lex("a = ? ; b in (?, ?)", &params, false);
  std::vector<TToken> found;
  for (int32_t c = 0; c < lex.NumCommands(); ++c) {
    for (const TToken& t : lex.Command(c).Tokens) {
      if (t.TokenType == tktParameter) found.push_back(t);
    }
  }
  ASSERT_EQ(found.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Utf8(found[i].Text), "Param" + std::to_string(i + 1));
    EXPECT_EQ(found[i].ParamValue->AsInteger(), 10 + i);
  }
}

TEST(LexerTest, ParameterErrors) {
  TORBSQLParams params;
  params.AddCreated()->Name = u"a";
  struct Case {
    const char* sql;
    const TORBSQLParams* params;
    const char* message;
  };
  const Case cases[] = {
      {"x = :p", &params, "Value for parameter 'p' not found"},
      {"x = :p", nullptr, "Value for parameter 'p' not found"},
      {"x = ?", nullptr, "Value for parameter '' not found"},
      // One positional value, two markers: the second has nothing to bind.
      {"x = ? and y = ?", &params, "Value for parameter '' not found"},
  };
  for (const Case& c : cases) {
    try {
      TORBLexer lex(c.sql, c.params, false);
      ADD_FAILURE() << "no error for " << c.sql;
    } catch (const EORBException& e) {
      EXPECT_EQ(e.NativeError(), 30358) << c.sql;
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  // Without binding the markers stay plain strings.
  EXPECT_EQ(Describe("x = :p and ?", nullptr, true), "S:x S:= S::p R:and S:?");
}

TEST(LexerTest, Navigation) {
  TORBLexer lex("a b c; d", nullptr, true);
  TToken t;
  EXPECT_EQ(lex.CurrentCommandNo(), -1);
  EXPECT_FALSE(lex.GetCurrentToken(t));
  ASSERT_TRUE(lex.GetNextCommand());
  ASSERT_TRUE(lex.GetCurrentToken(t));
  EXPECT_EQ(Utf8(t.Text), "a");
  ASSERT_TRUE(lex.LookNextToken(t));
  EXPECT_EQ(Utf8(t.Text), "b");
  EXPECT_EQ(lex.GetCurrentTokenNo(), 0);
  ASSERT_TRUE(lex.GetNextToken(t));
  EXPECT_EQ(Utf8(t.Text), "b");
  ASSERT_TRUE(lex.GetNextToken(t));
  EXPECT_EQ(Utf8(t.Text), "c");
  EXPECT_FALSE(lex.LookNextToken(t));
  EXPECT_EQ(t.TokenType, tktNone);
  EXPECT_FALSE(lex.GetNextToken(t));
  EXPECT_EQ(t.TokenType, tktNone);
  EXPECT_EQ(lex.GetCurrentTokenNo(), 3);
  EXPECT_TRUE(lex.SetCurrentTokenNo(1, t));
  EXPECT_EQ(Utf8(t.Text), "b");
  EXPECT_FALSE(lex.SetCurrentTokenNo(5));
  EXPECT_TRUE(lex.SetCurrentTokenNo(0));
  EXPECT_TRUE(lex.GetNextSpecifiedToken(t, {tktString}));
  EXPECT_EQ(Utf8(t.Text), "b");
  EXPECT_FALSE(lex.GetNextSpecifiedToken(t, {tktComma}));
  ASSERT_TRUE(lex.GetNextCommand());
  EXPECT_TRUE(lex.GetCurrentToken(t));
  EXPECT_EQ(Utf8(t.Text), "d");
  EXPECT_FALSE(lex.GetNextCommand());
}

TEST(LexerTest, AddedCommandsAndDump) {
  TORBLexer lex("select 1", nullptr, true);
  lex.AddCommand();
  EXPECT_EQ(lex.CurrentCommandNo(), 1);
  TToken t;
  t.TokenType = tktString;
  t.Text = u"x";
  t.LineNum = 1;
  t.ColumnNum = 1;
  lex.AddToken(t);
  EXPECT_EQ(lex.Command(1).NumTokens, 1);
  EXPECT_EQ(Utf8(lex.Test(false)),
            "Number of commands: 2\r\nCommand #1:\r\nselect\r\n1\r\nCommand #2:\r\nx\r\n");
  const std::string details = Utf8(lex.Test(true));
  EXPECT_NE(details.find("select\r\nType = tktReservedWord\r\nReservedWord = SELECT\r\nLine = 1\r\n"
                         "Column = 1\r\n"),
            std::string::npos);
  EXPECT_NE(details.find("1\r\nType = tktInt\r\nReservedWord = None\r\nLine = 1\r\nColumn = 8"),
            std::string::npos);
}

}  // namespace
}  // namespace orb
