// The dBase III table reader and writer: header, field descriptors, fixed-width records.
#include "files/DbaseFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files/DocStream.h"
#include "files/Document.h"
#include "format/DateSerial.h"
#include "format/ValueText.h"
#include "formula/FormulaText.h"
#include "model/CellValue.h"
#include "model/Sheet.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/StringTable.h"
#include "platform/System.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr uint32_t HeaderBytes = 32;
constexpr uint32_t DescriptorBytes = 32;
constexpr uint8_t HeaderEnd = 0x0D;
constexpr uint8_t TableEnd = 0x1A;
constexpr uint8_t Deleted = '*';
constexpr uint32_t MaxRecords = 65535;
constexpr int MaxNameBytes = 10;
constexpr int MaxNumberWidth = 19;
constexpr int MaxNumberDecimals = 15;
constexpr int MaxTextWidth = 254;
constexpr int StringFieldsNamed = 2712;
constexpr int StringRowsLeftOut = 2731;
constexpr int StringColumnsLeftOut = 2732;
// The grid draws a digit 7 pixels wide; field widths follow the column as it is shown.
constexpr double PixelsPerWidthUnit = 7.0 / 256.0;

uint16_t u16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void putU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void putU32(uint8_t* p, uint32_t v) {
  putU16(p, v);
  putU16(p + 2, v >> 16);
}

// Reading.

struct FieldIn {
  std::u16string name;
  char type = 'C';
  uint32_t offset = 0;
  uint32_t width = 0;
};

std::u16string bytesToText(uint32_t codePage, const uint8_t* bytes, size_t count) {
  std::u16string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) out.push_back(byteToChar(codePage, bytes[i]));
  return out;
}

bool setText(Sheet& sheet, int32_t column, int32_t row, std::u16string_view text) {
  CellValue value = emptyValue();
  makeText(value, text);
  if (pendingError()) return false;
  return sheet.setCell(column, row, CellRecord{value, -1});
}

// A number as dBase stores it: optional sign, digits with one point, an exponent for the
// floating type. The point is always "." whatever the locale says.
bool parseNumber(std::string_view text, double& out) {
  if (text.empty() || text.size() > 64) return false;
  size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') ++digits;
    else if (c == '.' && !point) point = true;
    else break;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  if (i != text.size()) return false;
  std::string copy(text);
  // strtod reads the C runtime's point, which the locale may have changed.
  const char16_t printed = currentLocale().printedPoint;
  if (printed != u'.') std::replace(copy.begin(), copy.end(), '.', static_cast<char>(printed));
  char* end = nullptr;
  out = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size() && std::isfinite(out);
}

bool readField(Workbook& book, Sheet& sheet, const FieldIn& field, int32_t column, int32_t row,
               const uint8_t* bytes) {
  size_t begin = 0;
  size_t end = field.width;
  // Some writers pad with NUL bytes instead of spaces.
  while (end > begin && (bytes[end - 1] == ' ' || bytes[end - 1] == 0)) --end;
  if (field.type == 'N' || field.type == 'F' || field.type == 'D' || field.type == 'L')
    while (begin < end && bytes[begin] == ' ') ++begin;
  if (begin == end) return true;  // an empty field is an empty cell
  const std::string_view ascii(reinterpret_cast<const char*>(bytes + begin), end - begin);
  switch (field.type) {
    case 'N':
    case 'F': {
      double number = 0;
      if (parseNumber(ascii, number)) return sheet.setCell(column, row, CellRecord{numberValue(number), -1});
      break;  // overflow marks and other damage stay visible as text
    }
    case 'D': {
      auto digitsAt = [&](size_t at, size_t count, int& out) {
        out = 0;
        for (size_t i = at; i < at + count; ++i) {
          if (ascii[i] < '0' || ascii[i] > '9') return false;
          out = out * 10 + (ascii[i] - '0');
        }
        return true;
      };
      int year = 0, month = 0, day = 0;
      double serial = 0;
      if (ascii.size() == 8 && digitsAt(0, 4, year) && digitsAt(4, 2, month) && digitsAt(6, 2, day) &&
          serialFromFields(year, month, day, 0, 0, 0, 0, true, serial))
        return sheet.setCell(column, row, CellRecord{dateTimeValue(serial), -1});
      break;
    }
    case 'L': {
      if (ascii == "?") return true;  // not yet known: left empty
      if (ascii.size() == 1 && std::string_view("TtYy").find(ascii[0]) != std::string_view::npos)
        return sheet.setCell(column, row, CellRecord{logicalValue(true), -1});
      if (ascii.size() == 1 && std::string_view("FfNn").find(ascii[0]) != std::string_view::npos)
        return sheet.setCell(column, row, CellRecord{logicalValue(false), -1});
      break;
    }
    default:
      break;
  }
  return setText(sheet, column, row, bytesToText(book.codePage, bytes + begin, end - begin));
}

}  // namespace

bool readDbase(Workbook& book, DocStream& in) {
  Sheet* sheet = book.sheetAt(0);
  if (!sheet) {
    setError(Err::FileRead);
    return false;
  }
  uint8_t header[HeaderBytes];
  if (in.Read(header, HeaderBytes) != HeaderBytes) return false;
  const uint32_t recordCount = u32At(header + 4);
  const uint32_t headerSize = u16At(header + 8);
  const uint32_t recordSize = u16At(header + 10);
  // The header must hold at least its terminator; below that the field count has no meaning.
  if (headerSize < HeaderBytes + 1 || recordSize < 1) {
    setError(Err::FileRead);
    return false;
  }
  std::vector<uint8_t> descriptors(headerSize - HeaderBytes);
  if (in.Read(descriptors.data(), static_cast<uint32_t>(descriptors.size())) != descriptors.size()) return false;

  // Fields end at the terminator or where the header does; the stored offsets are not
  // trusted, each field starts where the one before ends.
  std::vector<FieldIn> fields;
  uint32_t offset = 1;
  for (size_t at = 0; at + DescriptorBytes <= descriptors.size() && descriptors[at] != HeaderEnd;
       at += DescriptorBytes) {
    const uint8_t* d = descriptors.data() + at;
    FieldIn field;
    size_t nameLength = 0;
    while (nameLength <= MaxNameBytes && d[nameLength] != 0) ++nameLength;
    field.name = bytesToText(book.codePage, d, nameLength);
    field.type = static_cast<char>(d[11]);
    field.width = d[16];
    field.offset = offset;
    offset += field.width;
    fields.push_back(std::move(field));
  }
  if (offset > recordSize) {
    setError(Err::FileRead);  // the fields claim more bytes than a record has
    return false;
  }
  // A sheet has 256 columns; fields past the last one are not read, and the user hears so.
  if (fields.size() > static_cast<size_t>(NoColumn)) {
    fields.resize(NoColumn);
    leaveNotice(0, formatText(loadString(StringColumnsLeftOut), u"1"));
  }

  for (size_t f = 0; f < fields.size(); ++f) {
    const int32_t column = static_cast<int32_t>(f);
    if (!fields[f].name.empty() && !setText(*sheet, column, 0, fields[f].name)) return false;
    if (fields[f].type == 'D') sheet->columns.setColumnWidths(column, column, 10 * 256);
    else if (fields[f].width >= 9) sheet->columns.setColumnWidths(column, column, static_cast<int32_t>(fields[f].width) * 256);
  }

  // The record count is only a claim: records are read one by one, so a count larger than
  // the file ends in a short read (error 13) and never in a large allocation. No file is
  // refused for its size: reading stops at the sheet's last row, so at most the header and
  // 65,535 records of at most 65,535 bytes are read whatever the table holds.
  std::vector<uint8_t> record(recordSize);
  int32_t row = 1;
  uint32_t i = 0;
  for (; i < recordCount && static_cast<uint32_t>(row) <= MaxRecords; ++i) {
    if (in.Read(record.data(), recordSize) != recordSize) return false;
    if (record[0] == Deleted) continue;
    for (size_t f = 0; f < fields.size(); ++f)
      if (!readField(book, *sheet, fields[f], static_cast<int32_t>(f), row, record.data() + fields[f].offset))
        return false;
    ++row;
  }
  if (i < recordCount && !pendingError())
    leaveNotice(0, formatText(loadString(StringRowsLeftOut), decimalText(static_cast<int64_t>(MaxRecords) + 2)));
  return !pendingError();
}

// Writing.

namespace {

struct FieldOut {
  int32_t column = 0;
  std::string name;  // ASCII, at most 10 bytes
  char type = 'C';
  int width = 1;
  int decimals = 0;
};

// What a number needs to be written without change at 15 significant digits: the
// characters before the point (sign included) and the decimals after it.
void numberNeeds(double number, int& before, int& decimals) {
  char text[40];
  std::snprintf(text, sizeof text, "%.14e", std::fabs(number));
  // text is "d.ddddddddddddddde+XX"; trailing zeros of the mantissa are not needed.
  int significant = 15;
  while (significant > 1 && text[significant] == '0') --significant;  // text[1] is the point
  const int exponent = std::atoi(std::strchr(text, 'e') + 1);
  decimals = std::max(0, significant - 1 - exponent);
  before = std::max(1, exponent + 1) + (std::signbit(number) ? 1 : 0);
}

std::u16string shownText(const Workbook& book, const Sheet& sheet, int32_t column, int32_t row) {
  std::u16string text;
  const CellRecord* cell = sheet.cellPtr(column, row);
  if (!cell || cell->value.kind == ValueKind::Empty) return text;
  uint32_t format = book.style(sheet.effectiveStyle(column, row)).numberFormat;
  displayText(cell->value, book.numberFormats, format, NoWidthLimit, nullptr, text);
  return text;
}

bool rowHasValue(const Sheet& sheet, int32_t row) { return sheet.lastValueInRow(row, NoColumn) >= 0; }

std::string textToBytes(uint32_t codePage, std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  bool ok = true;
  for (char16_t c : text) out.push_back(static_cast<char>(charToByte(codePage, c, ok)));
  return out;
}

std::u16string columnLetters(int32_t column) {
  std::u16string letters;
  columnName(static_cast<uint16_t>(column), letters);
  return letters;
}

std::string ascii(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// The field name from the header text: trimmed, upper case, spaces as "_", at most ten
// characters; a text that makes no valid name gives the column's letters, and a name
// already taken "_" and the letters. `changed` says whether more than case and spaces
// had to change.
std::string fieldName(std::u16string_view header, int32_t column, const std::vector<FieldOut>& fields,
                      bool& changed) {
  size_t first = header.find_first_not_of(u' ');
  size_t last = header.find_last_not_of(u' ');
  std::u16string name = first == std::u16string_view::npos ? std::u16string() : std::u16string(header.substr(first, last - first + 1));
  changed = false;
  for (char16_t& c : name) {
    if (c == u' ') c = u'_';
    else if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  if (name.size() > MaxNameBytes) {
    name.resize(MaxNameBytes);
    changed = true;
  }
  bool valid = !name.empty() && ((name[0] >= u'A' && name[0] <= u'Z') || name[0] == u'_');
  for (char16_t c : name)
    valid = valid && ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_');
  if (!valid) {
    changed = true;
    name = columnLetters(column);
  }
  auto taken = [&](const std::string& candidate) {
    return std::any_of(fields.begin(), fields.end(), [&](const FieldOut& f) { return f.name == candidate; });
  };
  std::string out = ascii(name);
  if (taken(out)) {
    changed = true;
    out = "_" + ascii(columnLetters(column));
    // A header may itself read "_B"; a digit then keeps the names apart.
    for (int n = 1; taken(out); ++n) out = "_" + ascii(columnLetters(column)) + std::to_string(n);
  }
  return out;
}

// Type, width and decimals from the first data row; a number field is made wide enough
// for every number in its column, and a column no number field can hold becomes text.
void typeField(const Workbook& book, const Sheet& sheet, FieldOut& field, int32_t firstData, int32_t lastRow,
               bool& numbersAsText) {
  numbersAsText = false;
  const int32_t column = field.column;
  const int base = std::max(1, sheet.columns.columnWidthPixels(column, PixelsPerWidthUnit) / 8 + 4);
  const ValueKind kind = firstData <= lastRow ? effectiveValue(sheet.cellValue(column, firstData)).kind : ValueKind::Empty;
  if (kind == ValueKind::Logical) {
    field.type = 'L';
    field.width = 1;
    return;
  }
  if (kind == ValueKind::DateTime) {
    field.type = 'D';
    field.width = 8;
    return;
  }
  if (kind == ValueKind::Number) {
    field.type = 'N';
    field.width = std::min(base, MaxNumberWidth);
    if (field.width > 2) {
      std::u16string shown = shownText(book, sheet, column, firstData);
      size_t point = shown.find(currentLocale().decimalSymbol);
      int after = 0;
      if (point != std::u16string::npos)
        while (point + 1 + after < shown.size() && shown[point + 1 + after] >= u'0' && shown[point + 1 + after] <= u'9') ++after;
      field.decimals = std::min({after, field.width - 2, MaxNumberDecimals});
    }
    int before = 0, decimals = 0;
    for (int32_t row = firstData; row <= lastRow; ++row) {
      const CellValue& value = effectiveValue(sheet.cellValue(column, row));
      if (value.kind != ValueKind::Number) continue;
      int b = 0, d = 0;
      numberNeeds(value.number(), b, d);
      before = std::max(before, b);
      decimals = std::max(decimals, d);
    }
    auto widthFor = [&](int dec) { return before + (dec > 0 ? dec + 1 : 0); };
    int dec = std::max(field.decimals, decimals);
    if (widthFor(dec) > MaxNumberWidth) dec = decimals;  // the shown decimals give way first
    if (dec <= MaxNumberDecimals && widthFor(dec) <= MaxNumberWidth) {
      field.decimals = dec;
      field.width = std::max(field.width, widthFor(dec));
      return;
    }
    numbersAsText = true;
    field.decimals = 0;
  }
  field.type = 'C';
  field.width = std::min(base, MaxTextWidth);
  // A text field is as wide as the longest text of its column, so that nothing is cut
  // short of what a dBase field can hold.
  for (int32_t row = firstData; row <= lastRow; ++row)
    field.width = std::max(field.width, static_cast<int>(shownText(book, sheet, column, row).size()));
  field.width = std::min(field.width, MaxTextWidth);
  if (numbersAsText) {
    // Text written in place of numbers is never cut.
    for (int32_t row = firstData; row <= lastRow; ++row) {
      const CellValue& value = effectiveValue(sheet.cellValue(column, row));
      if (value.kind != ValueKind::Number) continue;
      std::u16string text;
      generalNumberText(value.number(), text);
      field.width = std::max(field.width, static_cast<int>(text.size()));
    }
    field.width = std::min(field.width, MaxTextWidth);
  }
}

void writeField(const Workbook& book, const Sheet& sheet, const FieldOut& field, bool numbersAsText, int32_t row,
                char* out) {
  const CellValue& value = effectiveValue(sheet.cellValue(field.column, row));
  auto put = [&](const std::string& text) { std::memcpy(out, text.data(), std::min<size_t>(text.size(), field.width)); };
  switch (field.type) {
    case 'L':
      out[0] = value.kind == ValueKind::Logical ? (value.u32() ? 'T' : 'F') : value.kind == ValueKind::Empty ? '?' : 'F';
      return;
    case 'D': {
      DateFields date;
      if (value.kind == ValueKind::DateTime && fieldsFromSerial(std::floor(value.number()), date)) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", date.year, date.month, date.day);
        put(text);
      }
      return;
    }
    case 'N': {
      if (value.kind != ValueKind::Number) return;
      char text[64];
      std::snprintf(text, sizeof text, "%*.*f", field.width, field.decimals, value.number());
      const char printed = static_cast<char>(currentLocale().printedPoint);
      for (char* p = text; *p; ++p)
        if (*p == printed) *p = '.';
      put(text);  // the width was chosen for this number: nothing is cut
      return;
    }
    default: {
      std::u16string text;
      if (numbersAsText && value.kind == ValueKind::Number) generalNumberText(value.number(), text);
      else text = shownText(book, sheet, field.column, row);
      put(textToBytes(book.codePage, text));
    }
  }
}

}  // namespace

void writeDbase(Workbook& book, DocStream& out) {
  const Sheet* sheet = book.activeSheet();
  if (!sheet) return;
  const int32_t lastRow = sheet->lastUsedRow(-1);
  int32_t headerRow = 0;
  while (headerRow <= lastRow && !rowHasValue(*sheet, headerRow)) ++headerRow;
  if (headerRow > lastRow) return;  // nothing to write
  int32_t firstData = headerRow + 1;
  while (firstData <= lastRow && !rowHasValue(*sheet, firstData)) ++firstData;

  // Every column of the list's rows is a field, whatever its heading: a title merged
  // across the heading row, or a heading left empty, must not cost a column its data.
  int32_t firstColumn = NoColumn;
  int32_t lastColumn = -1;
  for (int32_t row = sheet->nextRow(headerRow - 1); row <= lastRow; row = sheet->nextRow(row)) {
    const int32_t first = sheet->nextValueInRow(row, -1);
    if (first >= NoColumn) continue;
    firstColumn = std::min(firstColumn, first);
    lastColumn = std::max(lastColumn, sheet->lastValueInRow(row, NoColumn));
  }

  std::vector<FieldOut> fields;
  std::vector<bool> numbersAsText;
  std::u16string renamed, asText;
  for (int32_t column = firstColumn; column <= lastColumn; ++column) {
    if (sheet->columns.isColumnHidden(column)) continue;
    FieldOut field;
    field.column = column;
    bool changed = false;
    // A heading cell under another cell's merged area shows nothing of its own.
    Area merged{};
    const bool covered = sheet->findMergedAt(column, headerRow, &merged) >= 0 &&
                         (merged.firstColumn != column || merged.firstRow != headerRow);
    const std::u16string heading = covered ? std::u16string() : shownText(book, *sheet, column, headerRow);
    field.name = fieldName(heading, column, fields, changed);
    if (changed)
      renamed += (renamed.empty() ? u"" : u", ") + columnLetters(column) + u" as " +
                 std::u16string(field.name.begin(), field.name.end());
    bool text = false;
    typeField(book, *sheet, field, firstData, lastRow, text);
    if (text) asText += (asText.empty() ? u"" : u", ") + std::u16string(field.name.begin(), field.name.end());
    fields.push_back(field);
    numbersAsText.push_back(text);
  }

  const uint32_t headerSize = HeaderBytes * static_cast<uint32_t>(fields.size()) + HeaderBytes + 1;
  uint32_t recordSize = 1;
  for (const FieldOut& field : fields) recordSize += static_cast<uint32_t>(field.width);
  const uint32_t records = firstData <= lastRow ? static_cast<uint32_t>(lastRow - firstData + 1) : 0;

  // Every record is counted before it is written, so the header goes out once, complete.
  std::vector<uint8_t> header(headerSize, 0);
  const LocalTime today = localTimeNow();
  header[0] = 3;
  // Years since 1900, as every dBase reader takes them.
  header[1] = static_cast<uint8_t>(today.year - 1900);
  header[2] = static_cast<uint8_t>(today.month);
  header[3] = static_cast<uint8_t>(today.day);
  putU32(header.data() + 4, records);
  putU16(header.data() + 8, headerSize);
  putU16(header.data() + 10, recordSize);
  uint32_t offset = 1;
  for (size_t f = 0; f < fields.size(); ++f) {
    uint8_t* d = header.data() + HeaderBytes + DescriptorBytes * f;
    std::memcpy(d, fields[f].name.data(), fields[f].name.size());
    d[11] = static_cast<uint8_t>(fields[f].type);
    putU32(d + 12, offset);
    d[16] = static_cast<uint8_t>(fields[f].width);
    d[17] = static_cast<uint8_t>(fields[f].decimals);
    offset += static_cast<uint32_t>(fields[f].width);
  }
  header[headerSize - 1] = HeaderEnd;
  out.Write(header.data(), headerSize);

  std::string record(recordSize, ' ');
  for (int32_t row = firstData; row <= lastRow && !pendingError(); ++row) {
    std::fill(record.begin(), record.end(), ' ');
    size_t at = 1;
    for (size_t f = 0; f < fields.size(); ++f) {
      writeField(book, *sheet, fields[f], numbersAsText[f], row, record.data() + at);
      at += static_cast<size_t>(fields[f].width);
    }
    out.Write(record.data(), recordSize);
  }
  const uint8_t end = TableEnd;
  out.Write(&end, 1);

  if (!asText.empty()) leaveNotice(static_cast<uint32_t>(Err::NumberOutOfBounds), asText);
  if (!renamed.empty()) leaveNotice(0, formatText(loadString(StringFieldsNamed), renamed));
}

void installDbaseFormat() {
  installDocumentReader(DocFileType::Dbase,
                        [](Workbook& book, DocStream& stream, DocFileType) { return readDbase(book, stream); });
  installDocumentWriter(DocFileType::Dbase,
                        [](Workbook& book, DocStream& stream, DocFileType) { writeDbase(book, stream); });
}

}  // namespace kelp
