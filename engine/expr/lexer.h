#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/reserved_words.h"

namespace orb {

class TORBVariant;
class TORBSQLParams;

enum TTokenType : uint8_t {
  tktNone,
  tktString,
  tktQuotedString,
  tktBracketedString,
  tktInt,
  tktFloat,
  tktReservedWord,
  tktParameter,
  tktLeftParenthesis,
  tktRightParenthesis,
  tktComma,
  tktDot,
};

// A set of token types.
class TTokenTypes {
 public:
  constexpr TTokenTypes() = default;
  constexpr TTokenTypes(std::initializer_list<TTokenType> types) {
    for (TTokenType t : types) FBits |= Bit(t);
  }
  constexpr bool Contains(TTokenType t) const { return (FBits & Bit(t)) != 0; }

 private:
  static constexpr uint16_t Bit(TTokenType t) { return static_cast<uint16_t>(1u << t); }
  uint16_t FBits = 0;
};

// One token of a command. Copies share the bound parameter value.
struct TToken {
  TTokenType TokenType = tktNone;
  TReservedWord ReservedWord = rwNone;
  // Quoted tokens: the text inside the quotes with doubled quotes reduced.
  // Parameters: the parameter's name.
  std::u16string Text;
  // For tktParameter: a copy of the parameter value bound while lexing.
  std::shared_ptr<const TORBVariant> ParamValue;
  int32_t LineNum = 0;
  int32_t ColumnNum = 0;
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  int32_t NumTokens = 0;
  int32_t CurrentTokenNo = 0;
};

// Splits an SQL script into commands of tokens in one pass at construction
// and lets the parsers walk the tokens of the current command. Parameters
// are bound while lexing. Lexing errors are raised by the constructor.
class TORBLexer {
 public:
  // `params` may be null (no parameter list); it is not owned and need not
  // outlive the constructor. With `no_params`, ':' and '?' tokens stay plain
  // strings.
  TORBLexer(std::u16string_view sql_script, const TORBSQLParams* params, bool no_params);
  // UTF-8 script.
  TORBLexer(std::string_view sql_script_utf8, const TORBSQLParams* params, bool no_params);

  TORBLexer(const TORBLexer&) = delete;
  TORBLexer& operator=(const TORBLexer&) = delete;

  int32_t NumCommands() const { return static_cast<int32_t>(FCommands.size()); }
  int32_t CurrentCommandNo() const { return FCurrentCommandNo; }
  void SetCurrentCommandNo(int32_t no) { FCurrentCommandNo = no; }
  const TSQLCommand& Command(int32_t no) const { return FCommands.at(static_cast<size_t>(no)); }
  const std::u16string& SQL() const { return FSql; }

  // Advances to the next command; true while it exists.
  bool GetNextCommand();

  // Token after the current one; advances even at the end (then tktNone and
  // false).
  bool GetNextToken(TToken& token);
  // As GetNextToken without advancing.
  bool LookNextToken(TToken& token) const;
  // Token at the current number; tktNone and false past the end.
  bool GetCurrentToken(TToken& token) const;
  int32_t GetCurrentTokenNo() const;
  // True when `token_no` lies inside the command.
  bool SetCurrentTokenNo(int32_t token_no);
  bool SetCurrentTokenNo(int32_t token_no, TToken& token);
  // Advances until a token of one of `types`; false at the end.
  bool GetNextSpecifiedToken(TToken& token, TTokenTypes types);

  // Appends a command (making it current) or a token to the current command.
  void AddCommand();
  void AddToken(const TToken& token);

  // Text dump of the commands and tokens, lines separated by CR LF.
  std::u16string Test(bool show_details) const;

 private:
  void Parse();
  TSQLCommand* Current();
  const TSQLCommand* Current() const;

  std::u16string FSql;
  const TORBSQLParams* FSqlParams;
  bool FNoParams;
  std::vector<TSQLCommand> FCommands;
  int32_t FCurrentCommandNo = -1;
};

// True when `token` is a keyword and, unless `word` is rwNone, that keyword.
bool IsReservedWord(const TToken& token, TReservedWord word);
// Keyword spelled by `text` (any case), or nullopt.
std::optional<TReservedWord> FindReservedWord(std::u16string_view text);

// Name of a token type as written in code ("tktString").
std::u16string_view TokenTypeName(TTokenType type);

}  // namespace orb
