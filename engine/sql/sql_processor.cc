#include "engine/sql/sql_processor.h"

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/expr/sql_engine_init.h"
#include "engine/sql/sql_ddl.h"
#include "engine/sql/sql_dml.h"
#include "engine/sql/sql_transaction.h"

namespace orb {

namespace {

[[noreturn]] void RaiseNotSupported(const TToken& token, std::u16string_view statement) {
  RaiseORB(kErrSQLNotSupported, "SQL statement '%s' is not supported yet (line %d, column %d)",
           FormatArgs{std::u16string(statement), token.LineNum, token.ColumnNum});
}

[[noreturn]] void RaiseObjectType(const TToken& after, bool at_end, int32_t type_code, int32_t end_code,
                                  const TToken& last) {
  if (at_end)
    RaiseORB(end_code, "Unexpected end of SQL command found at line %d, column %d",
             FormatArgs{last.LineNum, last.ColumnNum});
  RaiseORB(type_code, "Object type keyword expected, but '%s' found at line %d, column %d",
           FormatArgs{after.Text, after.LineNum, after.ColumnNum});
}

}  // namespace

TORBSQLProcessor::TORBSQLProcessor(TORBBaseSession& session) : FContext(&session) { InitSqlEngine(); }

TORBSQLProcessor::~TORBSQLProcessor() = default;

int64_t TORBSQLProcessor::ExecuteScript(std::string_view sql_utf8, const TORBSQLParams* params) {
  TORBLexer lexer(sql_utf8, params, params == nullptr);
  return Run(lexer);
}

int64_t TORBSQLProcessor::ExecuteScript(std::u16string_view sql, const TORBSQLParams* params) {
  TORBLexer lexer(sql, params, params == nullptr);
  return Run(lexer);
}

int64_t TORBSQLProcessor::Run(TORBLexer& lexer) {
  FRowsAffected = 0;
  FCommandsDone = 0;
  if (lexer.NumCommands() == 0) RaiseORB(kErrBlankScript, "Blank SQL command");
  while (lexer.GetNextCommand()) {
    std::unique_ptr<TORBSQLCommand> command = ParseCommand(lexer);
    command->ExecSQL(FContext);
    FRowsAffected += command->FRowsAffected;
    ++FCommandsDone;
  }
  return FRowsAffected;
}

std::unique_ptr<TORBSQLCommand> TORBSQLProcessor::ParseCommand(TORBLexer& lexer) {
  const TSQLCommand& tokens = lexer.Command(lexer.CurrentCommandNo());
  if (tokens.NumTokens == 0) RaiseORB(kErrBlankScriptCommand, "Blank SQL command");
  const TToken& first = tokens.Tokens[0];
  const bool has_second = tokens.NumTokens > 1;
  const TToken second = has_second ? tokens.Tokens[1] : TToken{};
  const TToken third = tokens.NumTokens > 2 ? tokens.Tokens[2] : TToken{};
  const TToken& last = tokens.Tokens.back();
  std::unique_ptr<TORBSQLCommand> command;
  if (first.TokenType == tktLeftParenthesis) RaiseNotSupported(first, u"SELECT");
  if (first.TokenType != tktReservedWord)
    RaiseORB(kErrSQLTokenExpected, "SQL token expected, but '%s' found at line %d, column %d",
             FormatArgs{first.Text, first.LineNum, first.ColumnNum});
  switch (first.ReservedWord) {
    case rwINSERT:
      command = std::make_unique<TORBSQLInsert>(lexer);
      break;
    case rwSELECT:
    case rwUPDATE:
    case rwDELETE:
    case rwTRUNCATE:
      RaiseNotSupported(first, first.Text);
    case rwRENAME:
      if (!has_second) RaiseObjectType(second, true, kErrRenameEnd, kErrRenameEnd, last);
      RaiseNotSupported(first, first.Text);
    case rwSTART:
      command = std::make_unique<TORBSQLStartTransaction>(lexer);
      break;
    case rwCOMMIT:
      command = std::make_unique<TORBSQLCommit>(lexer);
      break;
    case rwROLLBACK:
      command = std::make_unique<TORBSQLRollback>(lexer);
      break;
    case rwCREATE:
      if (IsReservedWord(second, rwTABLE)) {
        command = std::make_unique<TORBDDLCreateTable>(lexer);
      } else if (IsReservedWord(second, rwINDEX) ||
                 (IsReservedWord(second, rwUNIQUE) && IsReservedWord(third, rwINDEX))) {
        command = std::make_unique<TORBDDLCreateIndex>(lexer);
      } else if (IsReservedWord(second, rwUNIQUE)) {
        if (tokens.NumTokens < 3)
          RaiseORB(kErrCreateObjectEnd, "Unexpected end of SQL command found at line %d, column %d",
                   FormatArgs{last.LineNum, last.ColumnNum});
        RaiseORB(kErrIndexKeywordExpected, "'INDEX' keyword expected, but '%s' found at line %d, column %d",
                 FormatArgs{third.Text, third.LineNum, third.ColumnNum});
      } else {
        RaiseObjectType(second, !has_second, kErrCreateObjectType, kErrCreateObjectEnd, last);
      }
      break;
    case rwDROP:
      if (IsReservedWord(second, rwTABLE))
        command = std::make_unique<TORBDDLDropTable>(lexer);
      else if (IsReservedWord(second, rwINDEX))
        command = std::make_unique<TORBDDLDropIndex>(lexer);
      else
        RaiseObjectType(second, !has_second, kErrDropObjectType, kErrDropObjectEnd, last);
      break;
    case rwALTER:
      if (!IsReservedWord(second, rwTABLE))
        RaiseObjectType(second, !has_second, kErrAlterObjectType, kErrAlterObjectEnd, last);
      RaiseNotSupported(first, u"ALTER TABLE");
    default:
      RaiseORB(kErrSQLKeywordExpected, "SQL token expected, but '%s' found at line %d, column %d",
               FormatArgs{first.Text, first.LineNum, first.ColumnNum});
  }
  command->Parse();
  return command;
}

}  // namespace orb
