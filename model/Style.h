// StyleRecord and FontRecord: the workbook tables that cells, rows and columns index.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/GrowArray.h"

namespace kelp {

enum class Edge { Left = 0, Right = 1, Top = 2, Bottom = 3 };

namespace HAlign {
constexpr int General = 0, Left = 1, Center = 2, Right = 3, Fill = 4, Justify = 5, CenterAcross = 6;
}
namespace VAlign {
constexpr int Top = 0, Center = 1, Bottom = 2, Justify = 3;
}

/// A cell format in the 22-byte layout the file formats share: eleven little-endian
/// u16 words whose bits are those of an Excel BIFF8 XF record, rearranged.
struct StyleRecord {
  uint16_t borders;           // 4 bits per edge: left, right, top, bottom line style
  uint16_t font;              // index into the font table
  uint16_t protection;        // bit 0 locked, bit 1 formula hidden
  uint16_t indentation;       // bits 0-3 indent, bit 4 shrink to fit, bit 5 merge
  uint16_t sideBorderColors;  // bits 0-6 left, 7-13 right border colour
  uint16_t borderFillLow;     // bytes 10-13 as one u32: bits 0-6 top colour,
  uint16_t borderFillHigh;    //   7-13 bottom colour, 26-31 fill pattern
  uint16_t alignment;         // bits 0-2 horizontal, 3 wrap, 4-6 vertical, 8-15 rotation
  uint16_t fillColors;        // bits 0-6 foreground, 7-13 background colour
  uint16_t numberFormat;      // index into the number format table
  uint16_t reserved;          // always 0

  bool operator==(const StyleRecord&) const = default;

  int borderStyle(Edge edge) const { return (borders >> (4 * static_cast<int>(edge))) & 0xF; }
  void setBorderStyle(Edge edge, int style);
  int borderColor(Edge edge) const;
  void setBorderColor(Edge edge, int color);
  bool locked() const { return protection & 1; }
  void setLocked(bool on) { setBit(protection, 0, on); }
  bool formulaHidden() const { return protection & 2; }
  void setFormulaHidden(bool on) { setBit(protection, 1, on); }
  int indent() const { return indentation & 0xF; }
  void setIndent(int level) { indentation = static_cast<uint16_t>((indentation & ~0xF) | (level & 0xF)); }
  bool shrinkToFit() const { return indentation & 0x10; }
  void setShrinkToFit(bool on) { setBit(indentation, 4, on); }
  bool merged() const { return indentation & 0x20; }
  void setMerged(bool on) { setBit(indentation, 5, on); }
  int fillPattern() const { return borderFillHigh >> 10; }
  void setFillPattern(int pattern) {
    borderFillHigh = static_cast<uint16_t>((borderFillHigh & 0x03FF) | ((pattern & 0x3F) << 10));
  }
  int horizontalAlignment() const { return alignment & 7; }
  void setHorizontalAlignment(int a) { alignment = static_cast<uint16_t>((alignment & ~7) | (a & 7)); }
  bool wrapText() const { return alignment & 8; }
  void setWrapText(bool on) { setBit(alignment, 3, on); }
  int verticalAlignment() const { return (alignment >> 4) & 7; }
  void setVerticalAlignment(int a) { alignment = static_cast<uint16_t>((alignment & ~0x70) | ((a & 7) << 4)); }
  int rotation() const { return alignment >> 8; }
  void setRotation(int r) { alignment = static_cast<uint16_t>((alignment & 0xFF) | ((r & 0xFF) << 8)); }
  int fillForeground() const { return fillColors & 0x7F; }
  void setFillForeground(int c) { fillColors = static_cast<uint16_t>((fillColors & ~0x7F) | (c & 0x7F)); }
  int fillBackground() const { return (fillColors >> 7) & 0x7F; }
  void setFillBackground(int c) { fillColors = static_cast<uint16_t>((fillColors & ~0x3F80) | ((c & 0x7F) << 7)); }

  /// A border, a pattern above solid-background, or a foreground other than 9 shows on
  /// screen; without a pattern (style 0 and the styles made from it) no fill shows at all.
  bool drawsSomething() const {
    return borders != 0 || fillPattern() > 1 || (fillPattern() == 1 && fillForeground() != 9);
  }

 private:
  static void setBit(uint16_t& word, int bit, bool on) {
    word = static_cast<uint16_t>(on ? (word | (1u << bit)) : (word & ~(1u << bit)));
  }
};
static_assert(sizeof(StyleRecord) == 22, "StyleRecord is stored as 22 bytes");

/// A style record as a new cell format starts: locked, bottom-aligned, fill colour 9, pattern 1.
StyleRecord newStyleRecord();
/// Style 0 of a new workbook: locked, bottom-aligned, automatic fill colours 64 and 65.
StyleRecord defaultStyleRecord();

namespace FontOption {
constexpr uint16_t Bold = 1;
constexpr uint16_t Italic = 2;
}  // namespace FontOption

/// A font entry, stored field by field by the file formats.
struct FontRecord {
  uint8_t reserved;
  uint8_t underline;
  uint16_t options;  // FontOption
  uint16_t height;   // twips; 200 = 10 points
  uint16_t color;    // palette index; 0x7FFF automatic
  uint16_t weight;   // 400 normal, 700 bold
  uint16_t escapement;
  uint8_t family;
  uint8_t charset;
  char16_t faceName[32];
  uint8_t faceNameLength;

  std::u16string_view face() const { return std::u16string_view(faceName, faceNameLength); }
  void setFace(std::u16string_view face);
  /// Equal in every field but the reserved byte; face names compare case-sensitively.
  bool sameAs(const FontRecord& other) const;
};

FontRecord makeFont(std::u16string_view face, uint16_t weight, uint16_t options, uint8_t reserved = 0);

/// Which style fields `applyStyleChange` replaces.
namespace StyleField {
constexpr uint32_t NumberFormat = 1u << 0;
constexpr uint32_t BorderLeft = 1u << 1;
constexpr uint32_t BorderRight = 1u << 2;
constexpr uint32_t BorderTop = 1u << 3;
constexpr uint32_t BorderBottom = 1u << 4;
constexpr uint32_t BorderColorLeft = 1u << 5;
constexpr uint32_t BorderColorRight = 1u << 6;
constexpr uint32_t BorderColorTop = 1u << 7;
constexpr uint32_t BorderColorBottom = 1u << 8;
constexpr uint32_t FillForeground = 1u << 9;
constexpr uint32_t FillBackground = 1u << 10;
constexpr uint32_t FillPattern = 1u << 11;
constexpr uint32_t HorizontalAlignment = 1u << 12;
constexpr uint32_t WrapText = 1u << 13;
constexpr uint32_t VerticalAlignment = 1u << 14;
constexpr uint32_t Rotation = 1u << 15;
constexpr uint32_t Indent = 1u << 16;
constexpr uint32_t ShrinkToFit = 1u << 17;
constexpr uint32_t Merge = 1u << 18;
constexpr uint32_t Locked = 1u << 19;
constexpr uint32_t FormulaHidden = 1u << 20;
}  // namespace StyleField

/// Which font fields `applyStyleChange` replaces.
namespace FontField {
constexpr uint32_t Underline = 1u << 0;
constexpr uint32_t Bold = 1u << 1;  // the bold option bit
constexpr uint32_t Italic = 1u << 2;
constexpr uint32_t Height = 1u << 3;
constexpr uint32_t Color = 1u << 4;
constexpr uint32_t Weight = 1u << 5;
constexpr uint32_t Escapement = 1u << 6;
constexpr uint32_t Family = 1u << 7;
constexpr uint32_t Charset = 1u << 8;
constexpr uint32_t Face = 1u << 9;
}  // namespace FontField

/// Copies the flagged fields of `from` into `to`.
void mergeStyleFields(StyleRecord& to, const StyleRecord& from, uint32_t mask);
void mergeFontFields(FontRecord& to, const FontRecord& from, uint32_t mask);

}  // namespace kelp
