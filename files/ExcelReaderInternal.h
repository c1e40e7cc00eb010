// Private to the Excel reader: record numbers, text reading, and the reader's state with
// its handlers, which ExcelReader.cpp (stream, globals, sheets, tasks), ExcelCells.cpp
// (worksheet records) and ExcelStyles.cpp (fonts, formats, cell formats) define.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "files/ExcelDataSheet.h"
#include "files/ExcelFormula.h"
#include "files/NativeRecords.h"
#include "model/Workbook.h"

namespace kelp {

class DocStream;

namespace excel {

using native::RecordIn;

/// BIFF record types the reader acts on.
namespace Record {
constexpr uint16_t Formula = 0x0006, Eof = 0x000A, Protect = 0x0012, Header = 0x0014, Footer = 0x0015,
                   ExternSheet = 0x0017, Name = 0x0018, Selection = 0x001D, DateMode = 0x0022, ExternName = 0x0023,
                   LeftMargin = 0x0026, RightMargin = 0x0027, TopMargin = 0x0028, BottomMargin = 0x0029,
                   FilePass = 0x002F, Font = 0x0031, Continue = 0x003C, Pane = 0x0041, CodePage = 0x0042,
                   ColInfo = 0x007D, BoundSheet = 0x0085, Palette = 0x0092, Scl = 0x00A0, MulRk = 0x00BD,
                   MulBlank = 0x00BE, RString = 0x00D6, Xf = 0x00E0, MergedCells = 0x00E5, Sst = 0x00FC,
                   LabelSst = 0x00FD, SupBook = 0x01AE, Dv = 0x01BE, Blank = 0x0201, Number = 0x0203,
                   Label = 0x0204, BoolErr = 0x0205, Formula3 = 0x0206, String = 0x0207, Row = 0x0208,
                   Window2 = 0x023E, Rk = 0x027E, Formula4 = 0x0406, Format = 0x041E, ShrFmla = 0x04BC,
                   Bof = 0x0809, PageSetup = 0xD705;
}  // namespace Record

/// WINDOW2 option bits the reader acts on besides the display switches.
namespace Window2 {
constexpr uint16_t Frozen = 0x0008, Selected = 0x0200;
}

/// Substream types of a BOF record.
namespace Substream {
constexpr uint16_t Globals = 0x0005, VbModule = 0x0006, Worksheet = 0x0010, Chart = 0x0020, Macro = 0x0040;
}

/// The data of a record and the CONTINUE records after it, read as one run of bytes. A
/// string's characters may cross into the next record, which in Excel 97 files then
/// starts with a new option byte giving the width of the rest; nothing else restarts at
/// a boundary, and Excel 95 files, whose texts are all bytes, have no such option byte.
class ContinuedBytes {
 public:
  void start(const uint8_t* data, uint32_t length, bool optionAtBoundaries = true);
  void append(const uint8_t* data, uint32_t length);
  void clear();
  bool empty() const { return m_bytes.empty(); }
  uint32_t left() const { return static_cast<uint32_t>(m_bytes.size() - m_at); }
  bool bad() const { return m_bad; }

  uint8_t u8();
  uint16_t u16();
  uint32_t u32();
  void skip(uint32_t count);
  /// `count` characters, 16-bit ones when `wide`, reading a new option byte wherever
  /// they cross a record boundary.
  std::u16string chars(uint32_t count, bool wide);

 private:
  std::vector<uint8_t> m_bytes;
  std::vector<size_t> m_boundaries;  // where each CONTINUE's data starts, ascending
  size_t m_at = 0;
  size_t m_nextBoundary = 0;         // index of the first boundary at or after m_at
  bool m_optionAtBoundaries = true;
  bool m_bad = false;
};

/// Kelp keeps texts up to what its own file format stores; longer ones are cut there.
void limitText(std::u16string& text);

class ExcelReader {
 public:
  ExcelReader(Workbook& book, DocStream& stream, bool biff8);
  ~ExcelReader();
  bool read();
  /// What formula conversion is told of the file; tests look at the name positions.
  const ExcelFormulaContext& formulaContext() const { return m_context; }

  ExcelReader(const ExcelReader&) = delete;
  ExcelReader& operator=(const ExcelReader&) = delete;

 private:
  enum class Part { Globals, Worksheet, ChartSheet, DataSheet, Skipped };

  struct BoundSheet {
    std::u16string name;
    int32_t sheet = -1;  // Kelp's sheet; -1 for the hidden data sheet
  };
  struct SupBook {
    enum Kind { Self, AddIn, External } kind = Self;
    int32_t book = 0;  // the external workbook's index
  };
  struct PendingName {
    int32_t index = -1;  // -1: a dropped name
    std::vector<uint8_t> tokens;
  };
  struct SharedFormula {
    Area range;
    uint32_t tokens = NoHandle;  // one reference held by the reader; NoHandle when it did not convert
  };
  struct CellKey {
    uint16_t column, row;
  };
  static uint32_t cellKey(uint16_t column, uint16_t row) { return static_cast<uint32_t>(row) << 16 | column; }
  using DataCell = DataSheetCell;

  // ExcelReader.cpp: the stream, substreams and globals.
  bool record(uint16_t type, RecordIn& in);
  bool beginSubstream(RecordIn& in);
  bool endSubstream();
  bool finishGlobals();
  void finishSheet();
  void finishContinued();
  uint32_t convert(const uint8_t* tokens, size_t length, CellPosition cell, ExcelFormulaKind kind,
                   const uint8_t* extra = nullptr, size_t extraLength = 0);
  bool readBoundSheet(RecordIn& in);
  void readExternSheet(RecordIn& in);
  void readSupBook(RecordIn& in);
  void readExternName(RecordIn& in);
  bool readName(RecordIn& in);
  void readSst();
  void readCodePage(RecordIn& in);
  void chooseActiveSheet();
  void restoreTasks();

  // Texts in the file's form: a counted string (count of `countBytes` bytes), or the
  // option byte and characters after a count read elsewhere.
  std::u16string text(RecordIn& in, int countBytes);
  std::u16string textAfterCount(RecordIn& in, uint32_t count);
  std::u16string bytesToText(const uint8_t* bytes, uint32_t count) const;

  // ExcelCells.cpp: worksheet records.
  bool sheetRecord(uint16_t type, RecordIn& in);
  bool dataSheetRecord(uint16_t type, RecordIn& in);
  /// The style of XF `xf`; false when the file has no such XF.
  bool cellStyle(uint16_t xf, int16_t& style) const;
  CellValue numberValueFor(double number, int16_t style) const;
  bool putCell(uint32_t column, uint32_t row, CellValue value, int16_t style);
  bool readCellHead(RecordIn& in, uint32_t& column, uint32_t& row, int16_t& style);
  bool readCell(uint16_t type, RecordIn& in);
  bool readCellRun(uint16_t type, RecordIn& in);
  bool readFormula(RecordIn& in);
  bool readSharedFormula(RecordIn& in);
  bool readFormulaString();
  /// A LABEL or RSTRING with the CONTINUE records its text runs into.
  bool readLabel();
  /// A string's characters after its count, from continued bytes.
  std::u16string continuedText(uint32_t count);
  bool attachFormula(uint16_t column, uint16_t row, uint32_t tokens);
  bool readRow(RecordIn& in);
  bool readColumnInfo(RecordIn& in);
  void readWindow2(RecordIn& in);
  void readPane(RecordIn& in);
  void readSelection(RecordIn& in);
  void readZoom(RecordIn& in);
  bool readMerged(RecordIn& in);
  bool readValidation(RecordIn& in);
  void readPageText(uint16_t type, RecordIn& in);
  void readPrintSetting(uint16_t type, RecordIn& in);

  // ExcelStyles.cpp: fonts, number formats, cell formats and the palette.
  void setUpFormats();
  bool readFont(RecordIn& in);
  void padFonts();
  bool readFormat(RecordIn& in);
  bool readXf(RecordIn& in);
  int32_t mapFormat(uint16_t excelIndex);
  void readPalette(RecordIn& in);

  Workbook& m_book;
  DocStream& m_in;
  const bool m_biff8;
  uint32_t m_codePage = 1252;  // of BIFF5 byte texts

  // Substreams.
  int32_t m_depth = 0;  // BOF records open; nested ones are charts inside a sheet
  bool m_globalsDone = false;
  Part m_part = Part::Globals;
  size_t m_nextSubstream = 0;  // the BOUNDSHEET entry the next top-level BOF reads
  std::vector<BoundSheet> m_boundSheets;
  Sheet* m_sheet = nullptr;  // the sheet receiving worksheet records
  int32_t m_activeSheet = -1;

  // Globals.
  ExcelFormulaContext m_context;
  std::vector<SupBook> m_supBooks;
  bool m_lastAddIn = false;  // BIFF5: the last EXTERNSHEET record opened an add-in's names
  std::vector<PendingName> m_pendingNames;
  std::vector<uint32_t> m_sst;  // text handle per SST index; one reference each
  bool m_date1904 = false;
  int32_t m_fontRecords = 0;
  bool m_fontsPadded = false;
  std::vector<int32_t> m_formatMap;  // Excel format index -> Kelp format index, -1 unmapped
  std::vector<int16_t> m_xfStyles;   // XF index -> style index
  ContinuedBytes m_continued;        // SST, STRING or LABEL waiting for its CONTINUE records
  uint16_t m_continuedType = 0;

  // The current worksheet.
  uint16_t m_window2 = 0;
  uint16_t m_window2Top = 0, m_window2Left = 0;
  uint8_t m_activePane = 3;
  std::map<uint32_t, SharedFormula> m_shared;            // by the first cell of the range
  std::map<uint32_t, std::vector<CellKey>> m_awaiting;   // cells by the first cell their formula names
  bool m_stringPending = false;  // the last formula's text result comes in a STRING record
  uint16_t m_stringColumn = 0, m_stringRow = 0;
  std::vector<DataCell> m_dataCells;
  // The column extents the last ROW records stated, so that a row's first cell makes room
  // for the rest at once; BIFF8 writes them in blocks of up to 32 ahead of their cells.
  struct RowExtent {
    uint16_t row, first, end;
  };
  std::array<RowExtent, 32> m_rowExtents{};
  uint32_t m_rowExtentCount = 0;
  void reserveRow(uint32_t row);

  bool m_unsupportedFormula = false;  // error 35 met: shown once at the end
  std::u16string m_unsupportedName;   // the first name kept as an error, named in the notice
  bool m_recalculate = false;
};

}  // namespace excel
}  // namespace kelp
