// The order of values across kinds and the wildcard match.
#include "formula/ValueOrder.h"

#include "formula/Evaluator.h"
#include "model/Sheet.h"
#include "platform/Text.h"

namespace kelp {

namespace {

// Rank of a kind in the order across kinds; integers count as numbers.
int kindRank(ValueKind kind) {
  switch (kind) {
    case ValueKind::Number:
    case ValueKind::Integer:
      return 0;
    case ValueKind::DateTime:
      return 1;
    case ValueKind::Text:
      return 2;
    case ValueKind::Logical:
      return 3;
    case ValueKind::Error:
      return 4;
    case ValueKind::Empty:
      return 5;
    default:
      return 6;  // references and other stack kinds: after everything a cell holds
  }
}

double numericOf(const CellValue& v) {
  return v.kind == ValueKind::Integer ? static_cast<int32_t>(v.u32()) : v.number();
}

bool isSpecial(char16_t c) { return c == u'*' || c == u'?' || c == u'~'; }

bool sameCharacter(char16_t a, char16_t b, bool caseSensitive) {
  return a == b || (!caseSensitive && foldCase(a) == foldCase(b));
}

int compareTexts(std::u16string_view s, std::u16string_view t, bool caseSensitive) {
  if (!caseSensitive) return compareIgnoreCase(s, t);
  int c = s.compare(t);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int compareValues(const CellValue* a, const CellValue* b, bool caseSensitive, bool wildcard) {
  if (!a || !b) return a ? -1 : (b ? 1 : 0);
  const CellValue& x = effectiveValue(*a);
  const CellValue& y = effectiveValue(*b);
  int rankX = kindRank(x.kind), rankY = kindRank(y.kind);
  if (rankX != rankY) return rankX < rankY ? -1 : 1;
  switch (rankX) {
    case 0:
    case 1: {
      double p = numericOf(x), q = numericOf(y);
      return p < q ? -1 : (p > q ? 1 : 0);
    }
    case 2: {
      std::u16string_view s = textOf(x), t = textOf(y);
      if (wildcard) return wildcardMatch(t, s, caseSensitive) ? 0 : 1;
      return compareTexts(s, t, caseSensitive);
    }
    case 3: {
      bool p = x.u32() != 0, q = y.u32() != 0;
      return p == q ? 0 : (p ? 1 : -1);
    }
    case 4:
      return static_cast<int>(x.u32()) - static_cast<int>(y.u32());
    default:
      return 0;
  }
}

bool wildcardMatch(std::u16string_view pattern, std::u16string_view text, bool caseSensitive) {
  constexpr size_t None = std::u16string_view::npos;
  size_t p = 0, t = 0;
  size_t starP = None, starT = 0;  // where to resume after the last "*"
  while (t < text.size()) {
    if (p < pattern.size()) {
      char16_t c = pattern[p];
      if (c == u'*') {
        while (p < pattern.size() && pattern[p] == u'*') ++p;
        if (p == pattern.size()) return true;  // a final "*" takes the rest at once
        starP = p;
        starT = t;
        continue;
      }
      size_t width = 1;
      bool any = c == u'?';
      if (c == u'~' && p + 1 < pattern.size() && isSpecial(pattern[p + 1])) {
        c = pattern[p + 1];
        width = 2;
      }
      if (any || sameCharacter(c, text[t], caseSensitive)) {
        p += width;
        ++t;
        continue;
      }
    }
    if (starP == None) return false;
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool hasWildcards(std::u16string_view pattern) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'*' || pattern[i] == u'?') return true;
    if (pattern[i] == u'~' && i + 1 < pattern.size() && isSpecial(pattern[i + 1])) ++i;
  }
  return false;
}

int compareCells(const Sheet& sheet, int32_t colA, int32_t rowA, int32_t colB, int32_t rowB, bool ascending,
                 bool caseSensitive) {
  const CellValue& a = sheet.cellValue(colA, rowA);
  const CellValue& b = sheet.cellValue(colB, rowB);
  bool blankA = a.kind == ValueKind::Empty, blankB = b.kind == ValueKind::Empty;
  // The sort turns the result round for a descending order; the blank rule is turned
  // round here beforehand so that blanks still end up last.
  if (blankA || blankB) {
    if (blankA && blankB) return 0;
    return blankA == ascending ? 1 : -1;
  }
  // A cell task's text is not part of what the cell shows, so it takes no part in the order.
  return a.kind == ValueKind::Text && b.kind == ValueKind::Text
             ? compareTexts(visibleCellText(textOf(a)), visibleCellText(textOf(b)), caseSensitive)
             : compareValues(&a, &b, caseSensitive, false);
}

void swapCells(Sheet& sheet, int32_t colA, int32_t rowA, int32_t colB, int32_t rowB) {
  if (colA == colB && rowA == rowB) return;
  CellRecord a, b;
  sheet.getCell(colA, rowA, a);
  sheet.getCell(colB, rowB, b);
  // Without ownership only the bytes move: nothing is released and no formula joins
  // the table twice; each moved formula notes its new cell.
  sheet.setCellOwned(colA, rowA, b, false);
  sheet.setCellOwned(colB, rowB, a, false);
}

}  // namespace kelp
