#include "engine/base/like_match.h"

#include <cstddef>
#include <vector>

#include "engine/platform/collation.h"

namespace orb {

namespace {

enum class TokenKind { kAnyRun, kOneChar, kLiteral, kNever };

template <typename Char>
struct Token {
  TokenKind kind;
  Char c;
};

template <typename Char>
std::basic_string_view<Char> UpToZero(std::basic_string_view<Char> s) {
  size_t end = s.find(Char(0));
  return end == s.npos ? s : s.substr(0, end);
}

template <typename Char>
std::vector<Token<Char>> Tokenize(std::basic_string_view<Char> pattern, bool use_escape, Char escape) {
  std::vector<Token<Char>> tokens;
  tokens.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size(); ++i) {
    Char c = pattern[i];
    if (use_escape && c == escape) {
      if (++i == pattern.size()) {
        tokens.push_back({TokenKind::kNever, c});
        break;
      }
      tokens.push_back({TokenKind::kLiteral, pattern[i]});
    } else if (c == '%') {
      // Adjacent runs match what one run matches.
      if (tokens.empty() || tokens.back().kind != TokenKind::kAnyRun) tokens.push_back({TokenKind::kAnyRun, c});
    } else if (c == '_') {
      tokens.push_back({TokenKind::kOneChar, c});
    } else {
      tokens.push_back({TokenKind::kLiteral, c});
    }
  }
  return tokens;
}

bool IsPrintableAscii(unsigned c) { return c >= 0x20 && c <= 0x7E; }

unsigned FoldAscii(unsigned c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// Distinct printable ASCII characters differ in the collation unless they
// are the two cases of one letter, so those pairs need no collator call.
bool SameChar(char a, char b, bool ignore_case) {
  if (a == b) return true;
  const auto ua = static_cast<unsigned char>(a), ub = static_cast<unsigned char>(b);
  if (IsPrintableAscii(ua) && IsPrintableAscii(ub)) return ignore_case && FoldAscii(ua) == FoldAscii(ub);
  return CompareTextA(std::string_view(&a, 1), std::string_view(&b, 1), !ignore_case) == 0;
}

bool SameChar(char16_t a, char16_t b, bool ignore_case) {
  if (a == b) return true;
  if (IsPrintableAscii(a) && IsPrintableAscii(b)) return ignore_case && FoldAscii(a) == FoldAscii(b);
  return CompareTextW(std::u16string_view(&a, 1), std::u16string_view(&b, 1), !ignore_case) == 0;
}

// Greedy matching that backtracks only to the most recent '%': a later
// '%' can absorb whatever an earlier one could, so earlier choices never
// need revisiting.
template <typename Char>
bool Match(std::basic_string_view<Char> s, std::basic_string_view<Char> pattern, bool use_escape, Char escape,
           bool ignore_case) {
  s = UpToZero(s);
  pattern = UpToZero(pattern);
  const std::vector<Token<Char>> tokens = Tokenize(pattern, use_escape, escape);
  const size_t n = s.size(), m = tokens.size();
  size_t si = 0, ti = 0;
  size_t star_ti = m, star_si = 0;  // star_ti == m: no '%' seen yet
  while (si < n) {
    if (ti < m && tokens[ti].kind == TokenKind::kAnyRun) {
      star_ti = ti++;
      star_si = si;
      continue;
    }
    if (ti < m && (tokens[ti].kind == TokenKind::kOneChar ||
                   (tokens[ti].kind == TokenKind::kLiteral && SameChar(s[si], tokens[ti].c, ignore_case)))) {
      ++si;
      ++ti;
      continue;
    }
    if (star_ti == m) return false;
    ti = star_ti + 1;
    si = ++star_si;
  }
  while (ti < m && tokens[ti].kind == TokenKind::kAnyRun) ++ti;
  return ti == m;
}

}  // namespace

bool IsStrMatchPattern(std::string_view s, std::string_view pattern, bool use_escape, char escape,
                       bool ignore_case) {
  return Match(s, pattern, use_escape, escape, ignore_case);
}

bool IsWideStrMatchPattern(std::u16string_view s, std::u16string_view pattern, bool use_escape, char16_t escape,
                           bool ignore_case) {
  return Match(s, pattern, use_escape, escape, ignore_case);
}

}  // namespace orb
