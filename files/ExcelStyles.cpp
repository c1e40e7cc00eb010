// The Excel reader's formatting records: fonts, number formats, cell formats (XF) and
// the colour palette.
#include <algorithm>
#include <array>
#include <iterator>

#include "files/ExcelReaderInternal.h"
#include "format/ExcelFormatCodes.h"
#include "platform/ErrorState.h"

namespace kelp::excel {

namespace {

// Excel's built-in number formats that Kelp's own built-in list holds.
struct BuiltInPair {
  uint16_t excel;
  int16_t kelp;
};
constexpr BuiltInPair kBuiltInPairs[] = {
    {0, 0},  {1, 1},   {2, 2},   {5, 3},   {6, 3},   {7, 4},   {8, 4},   {10, 5},  {14, 6},  {15, 7},
    {16, 8}, {17, 9},  {18, 10}, {19, 12}, {20, 11}, {21, 13}, {22, 14}, {42, 3},  {44, 4},  {45, 13},
    {46, 13}, {47, 13}, {49, 15},
};

bool isBuiltInPair(uint32_t excel) {
  return std::any_of(std::begin(kBuiltInPairs), std::end(kBuiltInPairs),
                     [excel](const BuiltInPair& p) { return p.excel == excel; });
}

// Excel has no font 4: the font table keeps a filler there so that indexes match.
constexpr int32_t MissingFont = 4;
constexpr int32_t StandardFonts = 6;
constexpr int32_t MaxStyles = 0x7FFF;
constexpr uint16_t XfIsStyle = 0x0004;
constexpr uint16_t XfUsedAttributes = 0xFC00;

}  // namespace

void ExcelReader::setUpFormats() {
  // Nothing refers to the workbook's tables yet: the file's own take their place.
  m_book.fonts.clear();
  m_book.styles.clear();
  m_book.numberFormats = builtInFormats();
  m_book.lastBuiltInFormat = BuiltInFormat::Last;
  m_formatMap.assign(FirstUserExcelFormat, -1);
  for (const BuiltInPair& p : kBuiltInPairs) m_formatMap[p.excel] = p.kelp;
}

// FONT: height, options, colour, weight, escapement, underline, family, character set
// and face name.
bool ExcelReader::readFont(RecordIn& in) {
  uint16_t height = in.u16();
  uint16_t options = in.u16();
  uint16_t color = in.u16();
  uint16_t weight = in.u16();
  uint16_t escapement = in.u16();
  uint8_t underline = in.u8();
  uint8_t family = in.u8();
  uint8_t charset = in.u8();
  in.u8();
  std::u16string face = text(in, 1);
  // A damaged entry still takes its place, so that the fonts after it keep their indexes.
  FontRecord font = makeFont(u"Arial", 400, 0);
  if (!in.bad()) {
    // Bold follows the weight; Excel 5 and later leave option bit 0 unused.
    font = makeFont(std::u16string_view(face).substr(0, 32), weight,
                    static_cast<uint16_t>((options & FontOption::Italic) | (weight >= 700 ? FontOption::Bold : 0)));
    font.height = height;
    font.color = color;
    font.escapement = escapement;
    font.underline = underline;
    font.family = family;
    font.charset = charset;
  }
  const int copies = ++m_fontRecords == MissingFont + 1 ? 2 : 1;
  for (int i = 0; i < copies; ++i)
    if (!m_book.fonts.append(font)) return false;
  return true;
}

// With fewer than five FONT records the table is filled up to the standard six, so
// that font 4 is still the filler and every index a cell format may name exists.
void ExcelReader::padFonts() {
  if (m_fontsPadded) return;
  m_fontsPadded = true;
  while (m_book.fonts.size() < StandardFonts) {
    const int32_t at = m_book.fonts.size();
    FontRecord font = at == MissingFont ? m_book.fonts[3] : at > 0 ? m_book.fonts[0] : makeFont(u"Arial", 400, 0);
    if (!m_book.fonts.append(font)) return;
  }
}

// FORMAT: an Excel format index and its code.
bool ExcelReader::readFormat(RecordIn& in) {
  uint16_t id = in.u16();
  std::u16string code = text(in, m_biff8 ? 2 : 1);
  if (in.bad()) return true;
  NumberFormatRecord format = recordFromExcelCode(code);
  int32_t index;
  if (isBuiltInPair(id)) {
    // Excel shows its short date and date-time formats in the reader's own locale,
    // whatever code the writer's locale stored.
    if (id == 14 || id == 22) return true;
    index = m_book.findOrAddNumberFormat(format, m_formatMap[id]);
  } else {
    index = m_book.findOrAddNumberFormat(format);
    if (id >= m_formatMap.size()) m_formatMap.resize(static_cast<size_t>(id) + 1, -1);
    if (index >= 0) m_formatMap[id] = index;
  }
  return index >= 0;
}

int32_t ExcelReader::mapFormat(uint16_t excelIndex) {
  if (excelIndex < m_formatMap.size() && m_formatMap[excelIndex] >= 0) return m_formatMap[excelIndex];
  // A built-in format the file does not spell out gets its entry on first use.
  if (excelBuiltInCode(excelIndex).empty()) return 0;
  int32_t index = m_book.findOrAddNumberFormat(recordFromExcelBuiltIn(excelIndex));
  if (index < 0) return 0;
  if (excelIndex >= m_formatMap.size()) m_formatMap.resize(static_cast<size_t>(excelIndex) + 1, -1);
  m_formatMap[excelIndex] = index;
  return index;
}

// XF: a cell format. The BIFF8 fields land in the style bit for bit; an Excel 5 one is
// first rearranged the way the native format's older style record is.
bool ExcelReader::readXf(RecordIn& in) {
  padFonts();
  StyleRecord s{};
  uint16_t font, format;
  if (m_biff8) {
    font = in.u16();
    format = in.u16();
    s.protection = in.u16();
    s.alignment = in.u16();
    s.indentation = in.u16();
    s.borders = in.u16();
    s.sideBorderColors = in.u16();
    s.borderFillLow = in.u16();
    s.borderFillHigh = in.u16();
    s.fillColors = in.u16() & 0x7FFF;
    // A cell format's used-attribute flags say which fields override its parent style;
    // Kelp has no parent styles, so every field is the cell's own and the flags go.
    if (!(s.protection & XfIsStyle)) s.indentation &= static_cast<uint16_t>(~XfUsedAttributes);
  } else {
    // The type and protection word is kept whole, as in Excel 97 files, so that Excel's
    // style formats stay recognisable when the workbook is written back.
    RecordIn ahead = in;
    ahead.u16();
    ahead.u16();
    const uint16_t protection = ahead.u16();
    s = native::readOldStyle(in);
    s.protection = protection;
    font = s.font;
    format = s.numberFormat;
  }
  // A damaged or surplus XF still takes its place: cells that name it get style 0.
  if (in.bad() || m_book.styles.size() >= MaxStyles) {
    m_xfStyles.push_back(0);
    return true;
  }
  s.font = static_cast<uint16_t>(font < m_book.fonts.size() ? font : 0);
  s.numberFormat = static_cast<uint16_t>(mapFormat(format));
  if (m_book.styles.empty()) s.protection = 1;  // the first style is the workbook's default: locked
  if (!m_book.styles.append(s)) return false;
  m_xfStyles.push_back(static_cast<int16_t>(m_book.styles.size() - 1));
  return true;
}

// PALETTE: a count and the colours of indexes 8 on, as 0x00BBGGRR.
void ExcelReader::readPalette(RecordIn& in) {
  uint32_t count = in.u16();
  std::array<uint32_t, 56> colors = m_book.palette.colors;
  for (uint32_t i = 0; i < count && i < colors.size(); ++i) colors[i] = in.u32();
  if (in.bad()) return;
  m_book.palette.colors = colors;
  m_book.palette.changed = true;
}

}  // namespace kelp::excel
