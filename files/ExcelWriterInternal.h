// Private to the Excel writer: the record builder and the writer's state, which
// ExcelWriter.cpp (globals, strings, names, the file) and ExcelSheetWriter.cpp (sheet
// substreams and the hidden data sheet) define.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/ExcelDataSheet.h"
#include "files/ExcelFormula.h"
#include "files/NativeRecords.h"
#include "model/Workbook.h"

namespace kelp::excel {

/// Record types the writer emits.
namespace Out {
constexpr uint16_t Formula = 0x0006, Eof = 0x000A, CalcMode = 0x000D, Protect = 0x0012, Password = 0x0013,
                   Header = 0x0014, Footer = 0x0015, ExternCount = 0x0016, ExternSheet = 0x0017, Name = 0x0018, ExternName = 0x0023,
                   WindowProtect = 0x0019, Selection = 0x001D, DateMode = 0x0022, LeftMargin = 0x0026,
                   Font = 0x0031, Continue = 0x003C, Window1 = 0x003D, Pane = 0x0041, CodePage = 0x0042,
                   DefColWidth = 0x0055, WriteAccess = 0x005C, ColInfo = 0x007D, Guts = 0x0080,
                   BoundSheet = 0x0085, Country = 0x008C, Palette = 0x0092, Scl = 0x00A0, Xf = 0x00E0,
                   MergedCells = 0x00E5, Sst = 0x00FC, LabelSst = 0x00FD, TabId = 0x013D, SupBook = 0x01AE,
                   DVal = 0x01B2, Dv = 0x01BE, Dimensions = 0x0200, Blank = 0x0201, Number = 0x0203,
                   Label = 0x0204, BoolErr = 0x0205, String = 0x0207, Row = 0x0208, DefaultRowHeight = 0x0225,
                   Window2 = 0x023E, Style = 0x0293, Format = 0x041E, Bof = 0x0809;
}  // namespace Out

/// The most data bytes one record carries; longer contents go on in CONTINUE records.
constexpr uint32_t Biff8RecordLimit = 8224;
constexpr uint32_t Biff5RecordLimit = 2080;
/// The longest text of an Excel 97 cell or formula result; a longer one fails the save.
constexpr uint32_t MaxExcelText = 32767;

/// The tokens of a formula-pool entry and their length; null for a dead handle.
const uint8_t* formulaBytes(uint32_t handle, uint32_t& length);

/// Where number format `format` is first seen, "Sheet1!B2", for a notice that it was lost;
/// "number format N" when no cell shows it.
std::u16string firstCellShowing(const Workbook& book, uint32_t format);

/// Records and the stream are built with the native writer's little-endian builder.
using Bytes = native::RecordOut;

/// What the format could not hold, counted by kind with the first place it happened.
class CutList {
 public:
  void add(std::u16string_view what, std::u16string_view where = {});
  bool empty() const { return m_items.empty(); }
  /// "what (first at where, N in all); ...", in the order the kinds were first met.
  std::u16string describe() const;

 private:
  struct Item {
    std::u16string what;
    std::u16string where;
    uint32_t count = 0;
  };
  std::vector<Item> m_items;
};

class ExcelWriter {
 public:
  ExcelWriter(Workbook& book, bool biff8);
  /// The whole workbook stream into `out`; false with the error state set on failure.
  bool write(std::vector<uint8_t>& out);
  const CutList& cuts() const { return m_cuts; }

  ExcelWriter(const ExcelWriter&) = delete;
  ExcelWriter& operator=(const ExcelWriter&) = delete;

 private:
  using DataCell = DataSheetCell;

  // ExcelWriter.cpp: preparation, globals, strings and names.
  void prepare();
  void nameSheets();
  void collectSheetSpans();
  void collectStrings();
  void buildDataSheet();
  void globals();
  void fonts();
  void formats();
  void styles();
  void names();
  void externalReferences();
  void biff5ExternSheets();
  void addInNames();
  void sharedStrings();

  // Records and texts.
  void emit(uint16_t type);  // m_rec as one record
  void emitWithContinues(uint16_t type, const std::vector<size_t>& optionBreaks);
  uint32_t recordLimit() const { return m_biff8 ? Biff8RecordLimit : Biff5RecordLimit; }
  /// A counted string in the file's form: BIFF8 count and 16-bit characters, BIFF5 count
  /// and code-page bytes. Texts longer than `maxChars` are cut and noted under `what`.
  void text(std::u16string_view s, int countBytes, uint32_t maxChars, std::u16string_view what,
            std::u16string_view where);
  /// A text in the workbook's code page; characters it lacks become "?" and are noted.
  std::string codePageBytes(std::u16string_view s, std::u16string_view where);
  /// The SST entry of a text, added when new; the text must outlive the writer's use.
  uint32_t addString(std::u16string_view text);
  uint32_t addHandleString(uint32_t handle);
  uint16_t xfOf(int32_t style) const;
  uint16_t excelFormat(int32_t format) const;
  std::u16string cellName(int32_t sheet, int32_t column, int32_t row) const;

  // ExcelSheetWriter.cpp: one sheet substream.
  void sheet(int32_t index);
  void sheetHead(const Sheet& sheet);
  void columns(const Sheet& sheet);
  void cells(const Sheet& sheet);
  bool rowRecordWanted(const Sheet& sheet, int32_t r, int32_t& first, int32_t& end) const;
  void cell(const Sheet& sheet, int32_t column, int32_t row, const CellRecord& record);
  void valueCell(int32_t sheet, int32_t column, int32_t row, uint16_t xf, const CellValue& value);
  bool formulaCell(const Sheet& sheet, int32_t column, int32_t row, uint16_t xf, const CellRecord& record);
  void formulaString(std::u16string_view text, std::u16string_view where);
  void view(const Sheet& sheet, bool active);
  void merged(const Sheet& sheet);
  void validations(const Sheet& sheet);
  bool validationFormula(uint32_t handle, const ValidationRule& rule, bool first, CellPosition at);
  void dataSheet();
  void bof(uint16_t substream);

  Workbook& m_book;
  const bool m_biff8;
  Bytes m_rec;     // the record being built
  Bytes m_stream;  // the workbook stream written so far
  CutList m_cuts;
  std::vector<uint8_t> m_formulaBytes;  // the formula being written, kept for its capacity

  uint16_t m_xfOffset = 15;
  std::vector<uint16_t> m_fontIndex;  // Kelp font -> Excel font
  int32_t m_extraFont = -1;           // Kelp's font 4, when styles use it, goes last
  ExcelExportContext m_context;
  std::vector<int32_t> m_nameOrder;  // Kelp names in NAME record order

  // The SST in order. The views are of the text pool and of m_dataCells, which stay
  // as they are while the workbook is written; no text is copied.
  std::vector<std::u16string_view> m_sstTexts;
  // Open addressing over m_sstTexts: each slot holds an SST index + 1, or 0 when empty.
  std::vector<uint32_t> m_sstSlots;
  std::vector<uint32_t> m_sstByHandle;  // by text handle: SST index + 1, 0 when not yet seen
  uint32_t m_sstTotal = 0;

  std::vector<DataCell> m_dataCells;  // the hidden data sheet, empty when there is none
  std::vector<size_t> m_sheetPositions;  // where each BOUNDSHEET's stream position goes
  std::vector<std::u16string> m_sheetNames;  // as written: at most 31 characters, each its own
};

}  // namespace kelp::excel
