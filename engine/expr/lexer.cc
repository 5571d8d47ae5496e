#include "engine/expr/lexer.h"

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/expr/sql_params.h"
#include "engine/expr/sql_names.h"
#include "engine/base/variant.h"

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
      : FSql(sql), FParams(params), FNoParams(no_params), FCommands(commands) {}

  void Run() {
    const size_t n = FSql.size();
    while (FPos < n) {
      const char16_t c = FSql[FPos];
      if (FTokenOpen && FQuoteClose != 0) {
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
  char16_t Next() const { return FPos + 1 < FSql.size() ? FSql[FPos + 1] : 0; }

  // Moves past `c`, keeping line and column.
  void Step(char16_t c) {
    if (c == kLF) {
      ++FLine;
      FColumn = 1;
    } else if (c != kCR) {
      ++FColumn;
    }
    FPrev = c;
    ++FPos;
  }

  bool StartsToken(char16_t c) const {
    if (!FTokenOpen) return true;
    if (IsDelimiter(c)) return true;
    const TTokenType t = FToken.TokenType;
    if (c == u'.' && t != tktInt) return true;
    if (t == tktDot && !IsDigit(c)) return true;
    if (t == tktString && (c == u'+' || c == u'-')) return true;
    if (t == tktInt && (c == u'+' || c == u'-') && FPrev != u'E' && FPrev != u'e') return true;
    return false;
  }

  void AppendToOpen(char16_t c) {
    if (FToken.TokenType == tktInt && !IsDigit(c) && c != u'.' && c != u'E' && c != u'e' &&
        c != u'+' && c != u'-') {
      RaiseORB(30062, "Invalid numeric symbol '%s' at line %d, column %d",
               FormatArgs{std::u16string(1, c), FLine, FColumn});
    }
    if (FToken.TokenType == tktDot && IsDigit(c)) FToken.TokenType = tktInt;
    FToken.Text.push_back(c);
  }

  void OpenToken(TTokenType type) {
    CloseToken();
    if (!FCommandOpen) {
      FCommands.emplace_back();
      FCommandOpen = true;
    }
    FToken = TToken{};
    FToken.TokenType = type;
    FToken.LineNum = FLine;
    FToken.ColumnNum = FColumn;
    FTokenOpen = true;
    FQuoteClose = 0;
    FBackquoted = false;
    FQuotedParam = false;
  }

  // Opens a token at `c` and consumes the characters that belong to its
  // start; one-character and operator tokens are closed at once.
  void StartToken(char16_t c) {
    const char16_t next = Next();
    switch (c) {
      case u'\'':
      case u'"':
        OpenToken(tktQuotedString);
        FQuoteClose = c;
        Step(c);
        return;
      case u'[':
        OpenToken(tktBracketedString);
        FQuoteClose = u']';
        Step(c);
        return;
      case u'`':
        OpenToken(tktString);
        FQuoteClose = u'`';
        FBackquoted = true;
        Step(c);
        return;
      case u'(':
        OneCharToken(tktLeftParenthesis, c);
        ++FDepth;
        FOpenLine = FTokenLine;
        FOpenColumn = FTokenColumn;
        return;
      case u')':
        OneCharToken(tktRightParenthesis, c);
        --FDepth;
        FCloseLine = FTokenLine;
        FCloseColumn = FTokenColumn;
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
          FToken.Text.push_back(c);
          FQuoteClose = next == u'[' ? u']' : next;
          FQuotedParam = true;
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
    FToken.Text.push_back(c);
    Step(c);
  }

  void OneCharToken(TTokenType type, char16_t c) {
    OpenToken(type);
    FTokenLine = FLine;
    FTokenColumn = FColumn;
    FToken.Text.push_back(c);
    Step(c);
    CloseToken();
  }

  void TwoCharToken(char16_t c, bool pair) {
    OpenToken(tktString);
    FToken.Text.push_back(c);
    Step(c);
    if (pair) {
      const char16_t second = FSql[FPos];
      FToken.Text.push_back(second);
      Step(second);
    }
    CloseToken();
  }

  // Inside quotes: collects up to the closing quote; a doubled closing quote
  // stands for one; in backquotes a backslash takes the next character.
  void ScanQuoted(char16_t c) {
    if (c == FQuoteClose) {
      if (Next() == FQuoteClose) {
        FToken.Text.push_back(c);
        Step(c);
        Step(c);
        return;
      }
      Step(c);
      FQuoteClose = 0;
      CloseToken();
      return;
    }
    if (FBackquoted && c == u'\\' && FPos + 1 < FSql.size()) {
      Step(c);
      const char16_t literal = FSql[FPos];
      FToken.Text.push_back(literal);
      Step(literal);
      return;
    }
    FToken.Text.push_back(c);
    Step(c);
  }

  // "--" to the end of the line. The line feed also ends the token before
  // the comment.
  void SkipLineComment() {
    while (FPos < FSql.size()) {
      const char16_t c = FSql[FPos];
      Step(c);
      if (c == kLF) {
        CloseToken();
        return;
      }
    }
  }

  // "/*" to "*/". Does not close an open token.
  void SkipBlockComment() {
    Step(FSql[FPos]);
    Step(FSql[FPos]);
    while (FPos < FSql.size()) {
      const char16_t c = FSql[FPos];
      if (c == u'*' && Next() == u'/') {
        Step(c);
        Step(u'/');
        return;
      }
      Step(c);
    }
  }

  void CloseToken() {
    if (!FTokenOpen) return;
    FTokenOpen = false;
    if (FQuoteClose != 0) {
      // Script ended inside the quotes.
      FUnterminated = true;
      FUnterminatedLine = FToken.LineNum;
      FUnterminatedColumn = FToken.ColumnNum;
      FQuoteClose = 0;
    }
    TToken& t = FToken;
    if (t.TokenType == tktInt && t.Text.find_first_of(u".Ee") != std::u16string::npos) {
      t.TokenType = tktFloat;
    }
    if (t.TokenType == tktString && !FBackquoted) {
      const bool is_param = !t.Text.empty() && (t.Text[0] == u':' || t.Text[0] == u'?');
      if (is_param && !FNoParams) {
        BindParameter(t);
      } else if (!FQuotedParam) {
        if (auto rw = FindReservedWord(t.Text)) {
          t.TokenType = tktReservedWord;
          t.ReservedWord = *rw;
        }
      }
    }
    FCommands.back().Tokens.push_back(std::move(FToken));
    FCommands.back().NumTokens = static_cast<int32_t>(FCommands.back().Tokens.size());
    FToken = TToken{};
  }

  void BindParameter(TToken& t) {
    const TORBSQLParam* source = nullptr;
    std::u16string lookup_name;
    if (t.Text[0] == u':') {
      t.Text.erase(0, 1);
      lookup_name = t.Text;
      if (FParams != nullptr) source = FParams->GetParamByName(t.Text);
    } else {
      const int32_t index = FPositional++;
      t.Text = u"Param" + Decimal(index + 1);
      if (FParams != nullptr && index < FParams->Count()) source = FParams->Item(index);
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
    if (!FCommandOpen) return;
    FCommandOpen = false;
    if (FDepth > 0) {
      RaiseORB(30059, "Missing symbol ')' at line %d, column %d",
               FormatArgs{FOpenLine, FOpenColumn});
    }
    if (FDepth < 0) {
      RaiseORB(30060, "Unexpected symbol ')' found at line %d, column %d",
               FormatArgs{FCloseLine, FCloseColumn});
    }
    if (FUnterminated) {
      RaiseORB(30061, "Unterminated string at line %d, column %d",
               FormatArgs{FUnterminatedLine, FUnterminatedColumn});
    }
    FDepth = 0;
  }

  const std::u16string& FSql;
  const TORBSQLParams* FParams;
  bool FNoParams;
  std::vector<TSQLCommand>& FCommands;

  size_t FPos = 0;
  int32_t FLine = 1;
  int32_t FColumn = 1;
  char16_t FPrev = 0;
  int32_t FDepth = 0;
  int32_t FOpenLine = 0, FOpenColumn = 0;
  int32_t FCloseLine = 0, FCloseColumn = 0;
  int32_t FTokenLine = 0, FTokenColumn = 0;
  bool FTokenOpen = false;
  bool FCommandOpen = false;
  TToken FToken;
  char16_t FQuoteClose = 0;  // nonzero while inside quotes
  bool FBackquoted = false;
  bool FQuotedParam = false;
  bool FUnterminated = false;
  int32_t FUnterminatedLine = 0, FUnterminatedColumn = 0;
  int32_t FPositional = 0;
};

}  // namespace

TORBLexer::TORBLexer(std::u16string_view sql_script, const TORBSQLParams* params, bool no_params)
    : FSql(sql_script), FSqlParams(params), FNoParams(no_params) {
  Parse();
}

TORBLexer::TORBLexer(std::string_view sql_script_utf8, const TORBSQLParams* params,
                     bool no_params)
    : TORBLexer(std::u16string_view(Utf8ToWide(sql_script_utf8)), params, no_params) {}

void TORBLexer::Parse() {
  FCommands.clear();
  Scanner(FSql, FSqlParams, FNoParams, FCommands).Run();
  for (TSQLCommand& c : FCommands) c.CurrentTokenNo = 0;
  FCurrentCommandNo = -1;
}

TSQLCommand* TORBLexer::Current() {
  if (FCurrentCommandNo < 0 || FCurrentCommandNo >= NumCommands()) return nullptr;
  return &FCommands[static_cast<size_t>(FCurrentCommandNo)];
}

const TSQLCommand* TORBLexer::Current() const {
  return const_cast<TORBLexer*>(this)->Current();
}

bool TORBLexer::GetNextCommand() {
  if (FCurrentCommandNo < NumCommands()) ++FCurrentCommandNo;
  return FCurrentCommandNo < NumCommands();
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
  FCommands.emplace_back();
  FCurrentCommandNo = NumCommands() - 1;
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
    for (const TToken& t : FCommands[static_cast<size_t>(i)].Tokens) {
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
