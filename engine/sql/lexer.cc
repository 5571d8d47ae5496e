#include "engine/sql/lexer.h"

#include "engine/core/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/sql/sql_params.h"
#include "engine/sql/sql_names.h"
#include "engine/table/variant.h"

namespace orb {

namespace {

constexpr char16_t kLF = u'\n';
constexpr char16_t kCR = u'\r';

bool IsWhitespace(char16_t c) { return c == u' ' || c == u'\t' || c == kCR || c == kLF; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Characters that start a new token even while one is open.
bool IsDelimiter(char16_t c) {
  switch (c) {
    case u'>': case u'<': case u'=': case u'(': case u')': case u',':
    case u'/': case u'*': case u':': case u'?': case u'|':
      return true;
    default:
      return false;
  }
}

std::u16string Decimal(int32_t v) {
  std::u16string s;
  for (char c : std::to_string(v)) s.push_back(static_cast<char16_t>(c));
  return s;
}

// One pass over the script. Keeps the open token and the positions that
// errors report.
class Scanner {
 public:
  Scanner(const std::u16string& sql, const TORBSQLParams* params, bool no_params,
          std::vector<TSQLCommand>& commands)
      : sql_(sql), params_(params), no_params_(no_params), commands_(commands) {}

  void Run() {
    const size_t n = sql_.size();
    while (pos_ < n) {
      const char16_t c = sql_[pos_];
      if (token_open_ && quote_close_ != 0) {
        ScanQuoted(c);
        continue;
      }
      if (c == u';') {
        EndCommand();
        Step(c);
        continue;
      }
      if (c == u'-' && Next() == u'-') {
        SkipLineComment();
        continue;
      }
      if (c == u'/' && Next() == u'*') {
        SkipBlockComment();
        continue;
      }
      if (IsWhitespace(c)) {
        CloseToken();
        Step(c);
        continue;
      }
      if (StartsToken(c)) {
        StartToken(c);
      } else {
        AppendToOpen(c);
        Step(c);
      }
    }
    EndCommand();
  }

 private:
  char16_t Next() const { return pos_ + 1 < sql_.size() ? sql_[pos_ + 1] : 0; }

  // Moves past `c`, keeping line and column.
  void Step(char16_t c) {
    if (c == kLF) {
      ++line_;
      column_ = 1;
    } else if (c != kCR) {
      ++column_;
    }
    prev_ = c;
    ++pos_;
  }

  bool StartsToken(char16_t c) const {
    if (!token_open_) return true;
    if (IsDelimiter(c)) return true;
    const TTokenType t = token_.TokenType;
    if (c == u'.' && t != tktInt) return true;
    if (t == tktDot && !IsDigit(c)) return true;
    if (t == tktString && (c == u'+' || c == u'-')) return true;
    if (t == tktInt && (c == u'+' || c == u'-') && prev_ != u'E' && prev_ != u'e') return true;
    return false;
  }

  void AppendToOpen(char16_t c) {
    if (token_.TokenType == tktInt && !IsDigit(c) && c != u'.' && c != u'E' && c != u'e' &&
        c != u'+' && c != u'-') {
      RaiseORB(30062, "Invalid numeric symbol '%s' at line %d, column %d",
               FormatArgs{std::u16string(1, c), line_, column_});
    }
    if (token_.TokenType == tktDot && IsDigit(c)) token_.TokenType = tktInt;
    token_.Text.push_back(c);
  }

  void OpenToken(TTokenType type) {
    CloseToken();
    if (!command_open_) {
      commands_.emplace_back();
      command_open_ = true;
    }
    token_ = TToken{};
    token_.TokenType = type;
    token_.LineNum = line_;
    token_.ColumnNum = column_;
    token_open_ = true;
    quote_close_ = 0;
    backquoted_ = false;
    quoted_param_ = false;
  }

  // Opens a token at `c` and consumes the characters that belong to its
  // start; one-character and operator tokens are closed at once.
  void StartToken(char16_t c) {
    const char16_t next = Next();
    switch (c) {
      case u'\'':
      case u'"':
        OpenToken(tktQuotedString);
        quote_close_ = c;
        Step(c);
        return;
      case u'[':
        OpenToken(tktBracketedString);
        quote_close_ = u']';
        Step(c);
        return;
      case u'`':
        OpenToken(tktString);
        quote_close_ = u'`';
        backquoted_ = true;
        Step(c);
        return;
      case u'(':
        OneCharToken(tktLeftParenthesis, c);
        ++depth_;
        open_line_ = token_line_;
        open_column_ = token_column_;
        return;
      case u')':
        OneCharToken(tktRightParenthesis, c);
        --depth_;
        close_line_ = token_line_;
        close_column_ = token_column_;
        return;
      case u',':
        OneCharToken(tktComma, c);
        return;
      case u'-': case u'+': case u'*': case u'/': case u'=':
        OneCharToken(tktString, c);
        return;
      case u'|':
        TwoCharToken(c, next == u'|');
        return;
      case u'<':
        TwoCharToken(c, next == u'=' || next == u'>');
        return;
      case u'>':
        TwoCharToken(c, next == u'=');
        return;
      case u':':
        if (next == u'"' || next == u'\'' || next == u'[') {
          OpenToken(tktString);
          token_.Text.push_back(c);
          quote_close_ = next == u'[' ? u']' : next;
          quoted_param_ = true;
          Step(c);
          Step(next);
          return;
        }
        break;
      default:
        break;
    }
    if (c == u'.') {
      OpenToken(tktDot);
    } else if (IsDigit(c)) {
      OpenToken(tktInt);
    } else {
      OpenToken(tktString);
    }
    token_.Text.push_back(c);
    Step(c);
  }

  void OneCharToken(TTokenType type, char16_t c) {
    OpenToken(type);
    token_line_ = line_;
    token_column_ = column_;
    token_.Text.push_back(c);
    Step(c);
    CloseToken();
  }

  void TwoCharToken(char16_t c, bool pair) {
    OpenToken(tktString);
    token_.Text.push_back(c);
    Step(c);
    if (pair) {
      const char16_t second = sql_[pos_];
      token_.Text.push_back(second);
      Step(second);
    }
    CloseToken();
  }

  // Inside quotes: collects up to the closing quote; a doubled closing quote
  // stands for one; in backquotes a backslash takes the next character.
  void ScanQuoted(char16_t c) {
    if (c == quote_close_) {
      if (Next() == quote_close_) {
        token_.Text.push_back(c);
        Step(c);
        Step(c);
        return;
      }
      Step(c);
      quote_close_ = 0;
      CloseToken();
      return;
    }
    if (backquoted_ && c == u'\\' && pos_ + 1 < sql_.size()) {
      Step(c);
      const char16_t literal = sql_[pos_];
      token_.Text.push_back(literal);
      Step(literal);
      return;
    }
    token_.Text.push_back(c);
    Step(c);
  }

  // "--" to the end of the line. The line feed also ends the token before
  // the comment.
  void SkipLineComment() {
    while (pos_ < sql_.size()) {
      const char16_t c = sql_[pos_];
      Step(c);
      if (c == kLF) {
        CloseToken();
        return;
      }
    }
  }

  // "/*" to "*/". Does not close an open token.
  void SkipBlockComment() {
    Step(sql_[pos_]);
    Step(sql_[pos_]);
    while (pos_ < sql_.size()) {
      const char16_t c = sql_[pos_];
      if (c == u'*' && Next() == u'/') {
        Step(c);
        Step(u'/');
        return;
      }
      Step(c);
    }
  }

  void CloseToken() {
    if (!token_open_) return;
    token_open_ = false;
    if (quote_close_ != 0) {
      // Script ended inside the quotes.
      unterminated_ = true;
      unterminated_line_ = token_.LineNum;
      unterminated_column_ = token_.ColumnNum;
      quote_close_ = 0;
    }
    TToken& t = token_;
    if (t.TokenType == tktInt && t.Text.find_first_of(u".Ee") != std::u16string::npos) {
      t.TokenType = tktFloat;
    }
    if (t.TokenType == tktString && !backquoted_) {
      const bool is_param = !t.Text.empty() && (t.Text[0] == u':' || t.Text[0] == u'?');
      if (is_param && !no_params_) {
        BindParameter(t);
      } else if (!quoted_param_) {
        if (auto rw = FindReservedWord(t.Text)) {
          t.TokenType = tktReservedWord;
          t.ReservedWord = *rw;
        }
      }
    }
    commands_.back().Tokens.push_back(std::move(token_));
    commands_.back().NumTokens = static_cast<int32_t>(commands_.back().Tokens.size());
    token_ = TToken{};
  }

  void BindParameter(TToken& t) {
    const TORBSQLParam* source = nullptr;
    std::u16string lookup_name;
    if (t.Text[0] == u':') {
      t.Text.erase(0, 1);
      lookup_name = t.Text;
      if (params_ != nullptr) source = params_->GetParamByName(t.Text);
    } else {
      const int32_t index = positional_++;
      t.Text = u"Param" + Decimal(index + 1);
      if (params_ != nullptr && index < params_->Count()) source = params_->Item(index);
    }
    if (source == nullptr) {
      RaiseORB(30358, "Value for parameter '%s' not found", FormatArgs{lookup_name});
    }
    auto value = std::make_shared<TORBVariant>(source->DataType());
    value->Assign(*source, true);
    t.ParamValue = std::move(value);
    t.TokenType = tktParameter;
  }

  void EndCommand() {
    CloseToken();
    if (!command_open_) return;
    command_open_ = false;
    if (depth_ > 0) {
      RaiseORB(30059, "Missing symbol ')' at line %d, column %d",
               FormatArgs{open_line_, open_column_});
    }
    if (depth_ < 0) {
      RaiseORB(30060, "Unexpected symbol ')' found at line %d, column %d",
               FormatArgs{close_line_, close_column_});
    }
    if (unterminated_) {
      RaiseORB(30061, "Unterminated string at line %d, column %d",
               FormatArgs{unterminated_line_, unterminated_column_});
    }
    depth_ = 0;
  }

  const std::u16string& sql_;
  const TORBSQLParams* params_;
  bool no_params_;
  std::vector<TSQLCommand>& commands_;

  size_t pos_ = 0;
  int32_t line_ = 1;
  int32_t column_ = 1;
  char16_t prev_ = 0;
  int32_t depth_ = 0;
  int32_t open_line_ = 0, open_column_ = 0;
  int32_t close_line_ = 0, close_column_ = 0;
  int32_t token_line_ = 0, token_column_ = 0;
  bool token_open_ = false;
  bool command_open_ = false;
  TToken token_;
  char16_t quote_close_ = 0;  // nonzero while inside quotes
  bool backquoted_ = false;
  bool quoted_param_ = false;
  bool unterminated_ = false;
  int32_t unterminated_line_ = 0, unterminated_column_ = 0;
  int32_t positional_ = 0;
};

}  // namespace

TORBLexer::TORBLexer(std::u16string_view sql_script, const TORBSQLParams* params, bool no_params)
    : sql_(sql_script), sql_params_(params), no_params_(no_params) {
  Parse();
}

TORBLexer::TORBLexer(std::string_view sql_script_utf8, const TORBSQLParams* params,
                     bool no_params)
    : TORBLexer(std::u16string_view(Utf8ToWide(sql_script_utf8)), params, no_params) {}

void TORBLexer::Parse() {
  commands_.clear();
  Scanner(sql_, sql_params_, no_params_, commands_).Run();
  for (TSQLCommand& c : commands_) c.CurrentTokenNo = 0;
  current_command_no_ = -1;
}

TSQLCommand* TORBLexer::Current() {
  if (current_command_no_ < 0 || current_command_no_ >= NumCommands()) return nullptr;
  return &commands_[static_cast<size_t>(current_command_no_)];
}

const TSQLCommand* TORBLexer::Current() const {
  return const_cast<TORBLexer*>(this)->Current();
}

bool TORBLexer::GetNextCommand() {
  if (current_command_no_ < NumCommands()) ++current_command_no_;
  return current_command_no_ < NumCommands();
}

bool TORBLexer::GetNextToken(TToken& token) {
  TSQLCommand* c = Current();
  if (c == nullptr) {
    token = TToken{};
    return false;
  }
  if (c->CurrentTokenNo <= c->NumTokens) ++c->CurrentTokenNo;
  return GetCurrentToken(token);
}

bool TORBLexer::LookNextToken(TToken& token) const {
  const TSQLCommand* c = Current();
  if (c == nullptr || c->CurrentTokenNo + 1 >= c->NumTokens || c->CurrentTokenNo + 1 < 0) {
    token = TToken{};
    return false;
  }
  token = c->Tokens[static_cast<size_t>(c->CurrentTokenNo + 1)];
  return true;
}

bool TORBLexer::GetCurrentToken(TToken& token) const {
  const TSQLCommand* c = Current();
  if (c == nullptr || c->CurrentTokenNo < 0 || c->CurrentTokenNo >= c->NumTokens) {
    token = TToken{};
    return false;
  }
  token = c->Tokens[static_cast<size_t>(c->CurrentTokenNo)];
  return true;
}

int32_t TORBLexer::GetCurrentTokenNo() const {
  const TSQLCommand* c = Current();
  return c == nullptr ? -1 : c->CurrentTokenNo;
}

bool TORBLexer::SetCurrentTokenNo(int32_t token_no) {
  TSQLCommand* c = Current();
  if (c == nullptr) return false;
  c->CurrentTokenNo = token_no;
  return token_no >= 0 && token_no < c->NumTokens;
}

bool TORBLexer::SetCurrentTokenNo(int32_t token_no, TToken& token) {
  const bool inside = SetCurrentTokenNo(token_no);
  GetCurrentToken(token);
  return inside;
}

bool TORBLexer::GetNextSpecifiedToken(TToken& token, TTokenTypes types) {
  while (GetNextToken(token)) {
    if (types.Contains(token.TokenType)) return true;
  }
  return false;
}

void TORBLexer::AddCommand() {
  commands_.emplace_back();
  current_command_no_ = NumCommands() - 1;
}

void TORBLexer::AddToken(const TToken& token) {
  TSQLCommand* c = Current();
  if (c == nullptr) {
    AddCommand();
    c = Current();
  }
  c->Tokens.push_back(token);
  c->NumTokens = static_cast<int32_t>(c->Tokens.size());
}

std::u16string TORBLexer::Test(bool show_details) const {
  std::u16string out = u"Number of commands: " + Decimal(NumCommands()) + u"\r\n";
  for (int32_t i = 0; i < NumCommands(); ++i) {
    out += u"Command #" + Decimal(i + 1) + u":\r\n";
    for (const TToken& t : commands_[static_cast<size_t>(i)].Tokens) {
      out += t.Text;
      if (show_details) {
        out += u"\r\nType = ";
        out += TokenTypeName(t.TokenType);
        out += u"\r\nReservedWord = ";
        out += t.ReservedWord == rwNone ? std::u16string(u"None")
                                        : std::u16string(kReservedWordText[t.ReservedWord]);
        out += u"\r\nLine = " + Decimal(t.LineNum);
        out += u"\r\nColumn = " + Decimal(t.ColumnNum);
      }
      out += u"\r\n";
    }
  }
  return out;
}

bool IsReservedWord(const TToken& token, TReservedWord word) {
  return token.TokenType == tktReservedWord && (word == rwNone || token.ReservedWord == word);
}

std::optional<TReservedWord> FindReservedWord(std::u16string_view text) {
  const std::u16string upper = SqlNameUpper(text);
  for (int i = 0; i < kReservedWordCount; ++i) {
    if (kReservedWordText[static_cast<size_t>(i)] == upper) return static_cast<TReservedWord>(i);
  }
  return std::nullopt;
}

std::u16string_view TokenTypeName(TTokenType type) {
  switch (type) {
    case tktNone: return u"tktNone";
    case tktString: return u"tktString";
    case tktQuotedString: return u"tktQuotedString";
    case tktBracketedString: return u"tktBracketedString";
    case tktInt: return u"tktInt";
    case tktFloat: return u"tktFloat";
    case tktReservedWord: return u"tktReservedWord";
    case tktParameter: return u"tktParameter";
    case tktLeftParenthesis: return u"tktLeftParenthesis";
    case tktRightParenthesis: return u"tktRightParenthesis";
    case tktComma: return u"tktComma";
    case tktDot: return u"tktDot";
  }
  return u"tktNone";
}

}  // namespace orb
