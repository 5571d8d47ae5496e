#pragma once

// The base of every SQL statement: it walks the tokens of its command in
// the processor's lexer, parses them (Parse) and then carries them out
// against the session it is given (ExecSQL), counting the rows it changed.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/expr/lexer.h"

namespace orb {

class TORBBaseSession;
class TORBLocalSession;

// What a statement runs against.
class TORBSQLContext {
 public:
  explicit TORBSQLContext(TORBBaseSession* session);
  ~TORBSQLContext();

  // The session whose database holds a table named with MEMORY
  // (`in_memory`) or not: a session of the in-memory database, connected
  // on first use, or FSession.
  TORBBaseSession* SessionFor(bool in_memory);

  TORBBaseSession* FSession;
  // Tables named without MEMORY are in-memory tables too.
  bool FInMemory = false;

 private:
  std::unique_ptr<TORBLocalSession> FMemorySession;
};

class TORBSQLCommand {
 public:
  // REQUIRES: the lexer stands on the first token of the command.
  explicit TORBSQLCommand(TORBLexer& lexer);
  virtual ~TORBSQLCommand();
  TORBSQLCommand(const TORBSQLCommand&) = delete;
  TORBSQLCommand& operator=(const TORBSQLCommand&) = delete;

  // Reads the whole command; raises a coded error naming the token where
  // it goes wrong.
  virtual void Parse() = 0;
  virtual void ExecSQL(TORBSQLContext& context) = 0;

  int32_t FRowsAffected = 0;

 protected:
  // Moves to the next token of the command (tktNone past its end).
  void Next();
  bool AtEnd() const { return FToken.TokenType == tktNone; }
  bool IsWord(TReservedWord word) const { return IsReservedWord(FToken, word); }
  // A plain, quoted or bracketed name, or a keyword used as a name.
  bool IsName() const;
  // The token's text (the parameter value's text for a parameter).
  std::u16string TokenText() const;

  // "<what>, but '<token>' found at line %d, column %d" with
  // `code`; at the end of the command "Unexpected end of SQL command found
  // at line %d, column %d" with `end_code`.
  [[noreturn]] void RaiseExpected(int32_t code, std::string_view what, int32_t end_code);
  [[noreturn]] void RaiseEnd(int32_t code);
  // "Unexpected token '%s' found at line %d, column %d".
  [[noreturn]] void RaiseUnexpected(int32_t code);
  // Raises `code` unless the command is fully read.
  void ExpectEnd(int32_t code);

  TORBLexer& FLex;
  TToken FToken;
};

}  // namespace orb
