// Style and font records: field access, defaults and masked merging.
#include "model/Style.h"

#include <algorithm>
#include <cstring>

namespace kelp {

void StyleRecord::setBorderStyle(Edge edge, int style) {
  int shift = 4 * static_cast<int>(edge);
  borders = static_cast<uint16_t>((borders & ~(0xF << shift)) | ((style & 0xF) << shift));
}

int StyleRecord::borderColor(Edge edge) const {
  switch (edge) {
    case Edge::Left: return sideBorderColors & 0x7F;
    case Edge::Right: return (sideBorderColors >> 7) & 0x7F;
    case Edge::Top: return borderFillLow & 0x7F;
    case Edge::Bottom: return (borderFillLow >> 7) & 0x7F;
  }
  return 0;
}

void StyleRecord::setBorderColor(Edge edge, int color) {
  uint16_t c = static_cast<uint16_t>(color & 0x7F);
  switch (edge) {
    case Edge::Left: sideBorderColors = static_cast<uint16_t>((sideBorderColors & ~0x7F) | c); break;
    case Edge::Right: sideBorderColors = static_cast<uint16_t>((sideBorderColors & ~0x3F80) | (c << 7)); break;
    case Edge::Top: borderFillLow = static_cast<uint16_t>((borderFillLow & ~0x7F) | c); break;
    case Edge::Bottom: borderFillLow = static_cast<uint16_t>((borderFillLow & ~0x3F80) | (c << 7)); break;
  }
}

StyleRecord newStyleRecord() {
  StyleRecord style{};
  style.setLocked(true);
  style.setVerticalAlignment(VAlign::Bottom);
  style.setFillForeground(9);
  style.setFillPattern(1);
  return style;
}

StyleRecord defaultStyleRecord() {
  StyleRecord style{};
  style.setLocked(true);
  style.alignment = 0x0020;
  style.fillColors = 0x20C0;
  return style;
}

void FontRecord::setFace(std::u16string_view face) {
  size_t n = std::min<size_t>(face.size(), 32);
  std::memset(faceName, 0, sizeof faceName);
  std::copy_n(face.data(), n, faceName);
  faceNameLength = static_cast<uint8_t>(n);
}

bool FontRecord::sameAs(const FontRecord& o) const {
  return underline == o.underline && options == o.options && height == o.height && color == o.color &&
         weight == o.weight && escapement == o.escapement && family == o.family && charset == o.charset &&
         face() == o.face();
}

FontRecord makeFont(std::u16string_view face, uint16_t weight, uint16_t options, uint8_t reserved) {
  FontRecord font{};
  font.reserved = reserved;
  font.options = options;
  font.height = 200;
  font.color = 0x7FFF;
  font.weight = weight;
  font.charset = 1;
  font.setFace(face);
  return font;
}

void mergeStyleFields(StyleRecord& to, const StyleRecord& from, uint32_t mask) {
  using namespace StyleField;
  if (mask & NumberFormat) to.numberFormat = from.numberFormat;
  const Edge edges[] = {Edge::Left, Edge::Right, Edge::Top, Edge::Bottom};
  for (int i = 0; i < 4; ++i) {
    if (mask & (BorderLeft << i)) to.setBorderStyle(edges[i], from.borderStyle(edges[i]));
    if (mask & (BorderColorLeft << i)) to.setBorderColor(edges[i], from.borderColor(edges[i]));
  }
  if (mask & FillForeground) to.setFillForeground(from.fillForeground());
  if (mask & FillBackground) to.setFillBackground(from.fillBackground());
  if (mask & FillPattern) to.setFillPattern(from.fillPattern());
  if (mask & HorizontalAlignment) to.setHorizontalAlignment(from.horizontalAlignment());
  if (mask & WrapText) to.setWrapText(from.wrapText());
  if (mask & VerticalAlignment) to.setVerticalAlignment(from.verticalAlignment());
  if (mask & Rotation) to.setRotation(from.rotation());
  if (mask & Indent) to.setIndent(from.indent());
  if (mask & ShrinkToFit) to.setShrinkToFit(from.shrinkToFit());
  if (mask & Merge) to.setMerged(from.merged());
  if (mask & Locked) to.setLocked(from.locked());
  if (mask & FormulaHidden) to.setFormulaHidden(from.formulaHidden());
}

void mergeFontFields(FontRecord& to, const FontRecord& from, uint32_t mask) {
  using namespace FontField;
  if (mask & Underline) to.underline = from.underline;
  if (mask & Bold) to.options = static_cast<uint16_t>((to.options & ~FontOption::Bold) | (from.options & FontOption::Bold));
  if (mask & Italic)
    to.options = static_cast<uint16_t>((to.options & ~FontOption::Italic) | (from.options & FontOption::Italic));
  if (mask & Height) to.height = from.height;
  if (mask & Color) to.color = from.color;
  if (mask & Weight) to.weight = from.weight;
  if (mask & Escapement) to.escapement = from.escapement;
  if (mask & Family) to.family = from.family;
  if (mask & Charset) to.charset = from.charset;
  if (mask & Face) to.setFace(from.face());
}

}  // namespace kelp
