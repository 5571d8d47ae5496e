#include "engine/sql/sql_command.h"

#include "engine/base/orb_exception.h"
#include "engine/base/variant.h"
#include "engine/expr/expression_parser.h"
#include "engine/session/local_session.h"

namespace orb {

TORBSQLContext::TORBSQLContext(TORBBaseSession* session) : FSession(session) {}

TORBSQLContext::~TORBSQLContext() {
  if (FMemorySession) FMemorySession->SetConnected(false);
}

TORBBaseSession* TORBSQLContext::SessionFor(bool in_memory) {
  if (!in_memory && !FInMemory) return FSession;
  if (FSession->FDatabaseName == u"MEMORY") return FSession;
  if (!FMemorySession) {
    auto session = std::make_unique<TORBLocalSession>();
    session->FDatabaseName = u"MEMORY";
    session->SetConnected(true);
    FMemorySession = std::move(session);
  }
  return FMemorySession.get();
}

TORBSQLCommand::TORBSQLCommand(TORBLexer& lexer) : FLex(lexer) { FLex.GetCurrentToken(FToken); }

TORBSQLCommand::~TORBSQLCommand() = default;

void TORBSQLCommand::Next() { FLex.GetNextToken(FToken); }

bool TORBSQLCommand::IsName() const {
  return FToken.TokenType == tktString || FToken.TokenType == tktQuotedString ||
         FToken.TokenType == tktBracketedString || FToken.TokenType == tktReservedWord;
}

std::u16string TORBSQLCommand::TokenText() const {
  if (FToken.TokenType == tktParameter && FToken.ParamValue) return FToken.ParamValue->AsWideString();
  return FToken.Text;
}

void TORBSQLCommand::RaiseEnd(int32_t code) { RaiseEndOfCommand(FLex, code); }

void TORBSQLCommand::RaiseExpected(int32_t code, std::string_view what, int32_t end_code) {
  if (AtEnd()) RaiseEnd(end_code);
  const std::string format = std::string(what) + ", but '%s' found at line %d, column %d";
  RaiseORB(code, format, FormatArgs{FToken.Text, FToken.LineNum, FToken.ColumnNum});
}

void TORBSQLCommand::RaiseUnexpected(int32_t code) {
  RaiseORB(code, "Unexpected token '%s' found at line %d, column %d",
           FormatArgs{FToken.Text, FToken.LineNum, FToken.ColumnNum});
}

void TORBSQLCommand::ExpectEnd(int32_t code) {
  if (!AtEnd()) RaiseUnexpected(code);
}

}  // namespace orb
