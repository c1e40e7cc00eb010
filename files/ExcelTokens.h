// Private to the Excel formula conversions: Excel's token codes (in their reference
// class, which is also the code once the class bits are folded away) and bit masks.
#pragma once

#include <cstdint>

namespace kelp::excel {

namespace Ptg {
// An array constant; its elements follow the formula's tokens in the record.
constexpr uint8_t Array = 0x20;
constexpr uint8_t Add = 0x03, Sub = 0x04, Mul = 0x05, Div = 0x06, Power = 0x07, Concat = 0x08;
constexpr uint8_t Lt = 0x09, Le = 0x0A, Eq = 0x0B, Ge = 0x0C, Gt = 0x0D, Ne = 0x0E;
constexpr uint8_t Uplus = 0x12, Uminus = 0x13, Percent = 0x14, Paren = 0x15;
constexpr uint8_t Str = 0x17, Attr = 0x19, Err = 0x1C, Bool = 0x1D, Int = 0x1E, Num = 0x1F;
constexpr uint8_t Func = 0x21, FuncVar = 0x22, Name = 0x23, Ref = 0x24, Area = 0x25;
constexpr uint8_t RefErr = 0x2A, AreaErr = 0x2B, RefN = 0x2C, AreaN = 0x2D;
constexpr uint8_t NameX = 0x39, Ref3d = 0x3A, Area3d = 0x3B, RefErr3d = 0x3C, AreaErr3d = 0x3D;
}  // namespace Ptg

/// Bits of the ptgAttr type byte.
namespace AttrBit {
constexpr uint8_t Volatile = 0x01, If = 0x02, Choose = 0x04, Goto = 0x08, Sum = 0x10, Space = 0x40;
}

/// The relative flags of a reference: in BIFF8's column word, in BIFF5's row word.
constexpr uint16_t ExcelRowRelative = 0x8000;
constexpr uint16_t ExcelColumnRelative = 0x4000;
constexpr uint16_t Biff5RowMask = 0x3FFF;

}  // namespace kelp::excel
