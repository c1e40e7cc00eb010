// Private to the Pocket Excel reader and writer: record types with their fixed sizes, and
// the field values both sides agree on.
#pragma once

#include <cstdint>

namespace kelp::pxl {

namespace Type {
constexpr uint8_t Blank = 1, Number = 3, Label = 4, BoolErr = 5, Formula = 6, String = 7, Row = 8, Bof = 9,
                  Eof = 10, Name = 24, Selection = 29, Format = 30, RowDefault = 37, FilePass = 47, Font = 49,
                  Window1 = 61, Window2 = 62, Pane = 65, CodePage = 66, ColumnDefault = 85, ColInfo = 125,
                  BoundSheet = 133, Country = 140, Scl = 160, Xf = 224;
}  // namespace Type

/// The bytes every record of a type carries before its counted part; -1 for a type the
/// format does not have, which no reader can step over.
constexpr int32_t fixedSize(uint8_t type) {
  switch (type) {
    case Type::Blank: return 5;
    case Type::Number: return 13;
    case Type::Label: return 7;
    case Type::BoolErr: return 7;
    case Type::Formula: return 16;
    case Type::String: return 2;
    case Type::Row: return 8;
    case Type::Bof: return 4;
    case Type::Eof: return 0;
    case Type::Name: return 7;
    case Type::Selection: return 9;
    case Type::Format: return 1;
    case Type::RowDefault: return 4;
    case Type::FilePass: return 0;
    case Type::Font: return 15;
    case Type::Window1: return 4;
    case Type::Window2: return 5;
    case Type::Pane: return 9;
    case Type::CodePage: return 2;
    case Type::ColumnDefault: return 6;
    case Type::ColInfo: return 9;
    case Type::BoundSheet: return 2;
    case Type::Country: return 4;
    case Type::Scl: return 4;
    case Type::Xf: return 22;
    default: return -1;
  }
}

/// BOF versions below this are the first release of the format, which Kelp refuses.
constexpr uint16_t FirstVersion = 256;
constexpr uint16_t WrittenVersion = 270;
constexpr uint16_t GlobalsSubstream = 5, WorksheetSubstream = 16;
constexpr uint16_t Window1Options = 31;

/// XF records name FORMAT records by number, the first one being this.
constexpr uint16_t FirstFormatNumber = 233;
/// A font's colour and a fill colour are stored as the palette index less this.
constexpr uint16_t PaletteShift = 8;
constexpr uint8_t XfLocked = 0x02, XfHidden = 0x04;
/// The alignment word: the style's alignment bits plus this, then one bit per border.
constexpr uint8_t AlignmentBias = 16;
constexpr uint16_t BorderTop = 0x100, BorderLeft = 0x200, BorderBottom = 0x400, BorderRight = 0x800;
constexpr uint8_t BorderMarker = 0x38, NoBorderMarker = 0xF8;
constexpr uint16_t NoFill = 255;
constexpr int AutomaticFill = 64;

constexpr uint16_t RowHasStyle = 0x80, RowOutline = 0x07;
constexpr uint8_t ColumnHidden = 0x01;

constexpr uint16_t Window2Formulas = 0x0001, Window2Gridlines = 0x0002, Window2Headers = 0x0004,
                   Window2Frozen = 0x0008, Window2Zeros = 0x0010, Window2FrozenNoSplit = 0x0100;

/// The kind byte of a FORMULA's cached result that is not a number.
constexpr uint8_t ResultText = 0, ResultLogical = 1, ResultError = 2, ResultEmptyText = 3;
constexpr uint8_t FormulaVolatile = 0x01;

}  // namespace kelp::pxl
