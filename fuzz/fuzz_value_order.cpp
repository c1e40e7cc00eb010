// Fuzz target: the wildcard match against a plain dynamic-programming matcher, and the
// value order's symmetry and transitivity over values built from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formula/ValueOrder.h"
#include "fuzz/FuzzText.h"
#include "model/CellValue.h"
#include "platform/Text.h"

namespace {

struct PatternPiece {
  enum Kind { Star, Any, Literal } kind;
  char16_t c;
};

std::vector<PatternPiece> piecesOf(std::u16string_view pattern) {
  std::vector<PatternPiece> pieces;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char16_t c = pattern[i];
    if (c == u'~' && i + 1 < pattern.size() && (pattern[i + 1] == u'*' || pattern[i + 1] == u'?' || pattern[i + 1] == u'~'))
      pieces.push_back({PatternPiece::Literal, pattern[++i]});
    else if (c == u'*')
      pieces.push_back({PatternPiece::Star, c});
    else if (c == u'?')
      pieces.push_back({PatternPiece::Any, c});
    else
      pieces.push_back({PatternPiece::Literal, c});
  }
  return pieces;
}

// matches[i][j]: the first i pieces match the first j characters.
bool referenceMatch(std::u16string_view pattern, std::u16string_view text, bool caseSensitive) {
  std::vector<PatternPiece> pieces = piecesOf(pattern);
  const size_t n = pieces.size(), m = text.size();
  std::vector<std::vector<char>> matches(n + 1, std::vector<char>(m + 1, 0));
  matches[0][0] = 1;
  for (size_t i = 1; i <= n; ++i) {
    const PatternPiece& p = pieces[i - 1];
    for (size_t j = 0; j <= m; ++j) {
      if (p.kind == PatternPiece::Star) {
        matches[i][j] = matches[i - 1][j] || (j > 0 && matches[i][j - 1]);
      } else if (j > 0) {
        bool same = p.kind == PatternPiece::Any || p.c == text[j - 1] ||
                    (!caseSensitive && kelp::foldCase(p.c) == kelp::foldCase(text[j - 1]));
        matches[i][j] = same && matches[i - 1][j - 1];
      }
    }
  }
  return matches[n][m];
}

int sign(int x) { return x < 0 ? -1 : (x > 0 ? 1 : 0); }

// A value of the kind the byte names, from the bytes after it.
kelp::CellValue valueOf(uint8_t kind, std::u16string_view text) {
  double d = 0;
  if (!text.empty()) d = static_cast<double>(static_cast<int16_t>(text[0])) / 4;
  switch (kind % 7) {
    case 0: return kelp::numberValue(d);
    case 1: return kelp::dateTimeValue(d);
    case 2: return kelp::logicalValue(!text.empty() && (text[0] & 1));
    case 3: return kelp::errorValue(static_cast<kelp::CellError>(text.empty() ? 0 : text[0] % 50));
    case 4: return kelp::emptyValue();
    case 5: return kelp::integerValue(static_cast<int32_t>(d));
    default: {
      kelp::CellValue v;
      kelp::makeText(v, text.substr(0, 8));
      return v;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 512) return 0;
  const bool caseSensitive = data[0] & 2;
  std::u16string all = fuzzText(data, size);
  // A NUL splits the pattern from the text.
  size_t split = all.find(u'\0');
  std::u16string_view pattern(all), text;
  if (split != std::u16string::npos) {
    pattern = std::u16string_view(all).substr(0, split);
    text = std::u16string_view(all).substr(split + 1);
  }
  if (kelp::wildcardMatch(pattern, text, caseSensitive) != referenceMatch(pattern, text, caseSensitive))
    __builtin_trap();

  // Three values from three slices; the order must be antisymmetric and transitive.
  size_t third = all.size() / 3;
  std::u16string_view view(all);
  kelp::CellValue values[3] = {valueOf(data[0] >> 2, view.substr(0, third)),
                               valueOf(data[1], view.substr(third, third)),
                               valueOf(data[1] >> 3, view.substr(2 * third))};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      int ij = sign(kelp::compareValues(&values[i], &values[j], caseSensitive, false));
      int ji = sign(kelp::compareValues(&values[j], &values[i], caseSensitive, false));
      if (ij != -ji) __builtin_trap();
      for (int k = 0; k < 3; ++k) {
        int jk = sign(kelp::compareValues(&values[j], &values[k], caseSensitive, false));
        int ik = sign(kelp::compareValues(&values[i], &values[k], caseSensitive, false));
        if (ij <= 0 && jk <= 0 && ik > 0) __builtin_trap();
      }
    }
    if (kelp::compareValues(&values[i], nullptr, caseSensitive, false) >= 0) __builtin_trap();
  }
  for (kelp::CellValue& v : values) kelp::releaseValue(v);
  return 0;
}
