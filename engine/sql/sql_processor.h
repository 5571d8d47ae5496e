#pragma once

// The SQL processor: lexes a script once, then parses and runs its commands
// one after the other, each as a statement dispatched on its first
// tokens. A failing command stops the script; the commands before it keep
// their effect.

#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/sql/sql_command.h"

namespace orb {

class TORBSQLParams;

// Error codes of the processor.
inline constexpr int32_t kErrBlankScript = 30145;
inline constexpr int32_t kErrBlankScriptCommand = 30146;
inline constexpr int32_t kErrCreateObjectType = 30147;
inline constexpr int32_t kErrCreateObjectEnd = 30148;
inline constexpr int32_t kErrAlterObjectType = 30149;
inline constexpr int32_t kErrAlterObjectEnd = 30150;
inline constexpr int32_t kErrDropObjectType = 30151;
inline constexpr int32_t kErrDropObjectEnd = 30152;
inline constexpr int32_t kErrSQLKeywordExpected = 30153;
inline constexpr int32_t kErrSQLTokenExpected = 30154;
inline constexpr int32_t kErrRenameEnd = 30353;

class TORBSQLProcessor {
 public:
  // REQUIRES: `session` is connected and outlives the processor.
  explicit TORBSQLProcessor(TORBBaseSession& session);
  ~TORBSQLProcessor();
  TORBSQLProcessor(const TORBSQLProcessor&) = delete;
  TORBSQLProcessor& operator=(const TORBSQLProcessor&) = delete;

  // Runs every command of the script (UTF-8); `params` binds its
  // parameters (may be null). Returns the rows the commands changed, which
  // FRowsAffected keeps. A script without commands raises 30145.
  int64_t ExecuteScript(std::string_view sql_utf8, const TORBSQLParams* params = nullptr);
  int64_t ExecuteScript(std::u16string_view sql, const TORBSQLParams* params = nullptr);

  // The statement for the lexer's current command, parsed.
  static std::unique_ptr<TORBSQLCommand> ParseCommand(TORBLexer& lexer);

  int64_t FRowsAffected = 0;
  // Commands of the last script that ran to their end.
  int32_t FCommandsDone = 0;
  TORBSQLContext FContext;

 private:
  int64_t Run(TORBLexer& lexer);
};

}  // namespace orb
