// Workbook: the sheets in display order and the tables they share (styles, fonts,
// number formats, defined names, external workbooks, task variables), plus the
// table of its formulas.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/CellValue.h"
#include "model/FormulaTable.h"
#include "model/GrowArray.h"
#include "model/NumberFormat.h"
#include "model/Sheet.h"
#include "model/Style.h"

namespace kelp {

/// Values already read from an external workbook's file; the file layer defines it.
struct ExternalBookCache;

/// Books are numbered from 1 in a reference's book byte; the value above the last is
/// kept for the formula engine's own use.
constexpr int32_t MaxExternalBooks = 254;

/// A workbook that formulas of this one refer to by name.
struct ExternalBook {
  std::u16string name;       // as shown in formula text
  std::u16string directory;  // where it lies
  std::vector<std::u16string> sheetNames;
  bool quoted = false;       // its prefix needs quotes in formula text
  // Goes with the workbook, so a workbook opened again reads the files afresh.
  std::shared_ptr<ExternalBookCache> cache;
};

struct DefinedName {
  std::u16string text;            // compared without regard to case
  uint32_t definition = NoHandle; // formula pool handle of the compiled definition
  int32_t saveIndex = -1;         // the writer's numbering while saving
};

struct TaskVariable {
  std::u16string name;
  CellValue value;  // owned
};

/// A task kept with the workbook: run from a menu, a tap on a cell or a new value.
struct WorkbookTask {
  std::u16string name;        // compared without regard to case
  std::u16string definition;  // the task text
  bool global = false;        // kept in the settings as well; such tasks are not saved with the book
  uint32_t runOn = 0;         // 0 no event, 1 menu item, 2 tap on cell, 3 new value in
  uint8_t area[12] = {};      // a 3-D area reference's value bytes: 0, first sheet, last sheet, rectangle
  std::optional<std::u16string> menuText;
};

/// The 56 colours that palette indexes 8 to 63 name, as 0x00BBGGRR.
struct Palette {
  std::array<uint32_t, 56> colors = defaultColors();
  bool changed = false;  // only a changed palette is stored with the workbook

  static std::array<uint32_t, 56> defaultColors();
};

/// A change of sheet numbers: a sheet inserted at `index` (the sheets from there on move
/// up one), or the sheet at `index` removed (those after it move down one).
struct SheetShift {
  uint16_t index;
  bool removed;
};

/// The sheets `first` to `last` of a reference after `shift`; false when none of them is
/// left. A span that held the inserted position grows to take the new sheet in.
bool shiftSheetSpan(uint8_t& first, uint8_t& last, SheetShift shift);

/// Rewrites the sheet numbers inside a workbook's compiled formulas (cells, defined
/// names, validation rules) after a shift; installed by the formula layer, which alone
/// knows the token layout.
using SheetReferenceFn = void (*)(Workbook& book, SheetShift shift);
void installSheetReferences(SheetReferenceFn fn);

class Workbook {
 public:
  Workbook();
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;
  ~Workbook();

  /// A number no other workbook of this process had: tells workbooks apart where a new
  /// one may take the address of one destroyed.
  uint64_t serial() const { return m_serial; }

  // Sheets.
  int32_t sheetCount() const { return m_sheets.size(); }
  Sheet* sheetAt(int32_t index) const { return index >= 0 && index < m_sheets.size() ? m_sheets[index] : nullptr; }
  Sheet* activeSheet() const { return sheetAt(m_activeSheet); }
  int32_t activeSheetIndex() const { return m_activeSheet; }
  void setActiveSheet(int32_t index);
  /// Inserts a new empty sheet at `index` (the end when -1); null and error 15 on failure.
  /// Sheets after it move up, and every reference to them follows.
  Sheet* insertSheet(std::u16string name, int32_t index = -1);
  /// Removes a sheet with its cells; references to later sheets follow them down and
  /// references to the sheet itself become deleted references.
  void deleteSheet(int32_t index);
  /// A sheet of this workbook (book 0) or of external workbook `book` by name, or -1.
  int32_t findSheet(std::u16string_view name, int32_t book = 0) const;
  /// False, leaving the name unchanged, when another sheet has that name already
  /// (the caller reports error 30).
  bool renameSheet(int32_t index, std::u16string_view name);
  /// "Sheet" and the counter, which then moves on.
  std::u16string defaultSheetName();
  int32_t sheetCounter = 1;

  // External workbooks; index 0 is this workbook, the first external one is 1.
  int32_t externalBookCount() const { return static_cast<int32_t>(m_externalBooks.size()); }
  const ExternalBook* externalBook(int32_t index) const;
  ExternalBook* externalBook(int32_t index);
  int32_t findOrAddExternalBook(std::u16string_view directory, std::u16string_view name);
  /// The index of the entry with that folder and name (compared without regard to case), or -1.
  int32_t findExternalBook(std::u16string_view directory, std::u16string_view name) const;

  // Defined names.
  std::vector<DefinedName> names;
  int32_t findName(std::u16string_view text) const;
  /// Sets (or adds) a name's definition, taking over one reference to `definition`.
  int32_t setName(std::u16string_view text, uint32_t definition);
  void removeName(int32_t index);

  // Task variables of the running task.
  std::vector<TaskVariable> taskVariables;
  int32_t findTaskVariable(std::u16string_view name) const;
  int32_t addTaskVariable(std::u16string_view name);
  void clearTaskVariables();

  // Shared tables.
  GrowArray<FontRecord> fonts;
  GrowArray<StyleRecord> styles;
  std::vector<NumberFormatRecord> numberFormats;
  int32_t lastBuiltInFormat = BuiltInFormat::Last;
  bool isProtected = false;

  /// The index of an equal font, or of the font appended; -1 and error 15 on failure.
  int32_t addFont(const FontRecord& font);
  /// The index of an equal style, or of the style appended; -1 and error 15 on failure.
  int32_t findOrAddStyle(const StyleRecord& style);
  /// The style at `index`; indexes out of the table read as style 0.
  const StyleRecord& style(int32_t index) const;
  /// The index of an equal format, or of the copy appended; with a target the copy
  /// replaces the format there. -1 and error 15 when the list is full.
  int32_t findOrAddNumberFormat(const NumberFormatRecord& format, int32_t target = -1);
  /// Removes a user format; styles past it move down, styles using it become General.
  bool removeNumberFormat(int32_t index);
  bool isUserFormat(int32_t index) const { return index > lastBuiltInFormat; }

  /// Changes the flagged style and font fields of every cell of the sheet's selection.
  void applyStyleChange(Sheet& sheet, const StyleRecord& styleFields, uint32_t styleMask,
                        const FontRecord& fontFields, uint32_t fontMask);
  /// The style that `oldStyle` becomes under a masked change.
  int16_t changedStyle(int16_t oldStyle, const StyleRecord& styleFields, uint32_t styleMask,
                       const FontRecord& fontFields, uint32_t fontMask);

  FormulaTable& formulas() { return m_formulas; }
  const FormulaTable& formulas() const { return m_formulas; }

  // The document: where it is stored and how it is protected.
  std::u16string fileName;       // empty for an untitled workbook
  uint32_t fileType = 0;         // the document file type code
  bool modified = false;
  uint32_t passwordHash = 0;     // 0: no password
  std::u16string password;       // keys the scrambling of the native format
  uint32_t codePage = 1252;      // of byte texts read and written for this workbook
  // The user declined, on opening, to let its formulas read other files: those keep the
  // results the file holds.
  bool externalReadsRefused = false;
  std::vector<WorkbookTask> tasks;
  Palette palette;

 private:
  /// Renumbers what refers to sheets by number once the sheet array has changed.
  void shiftSheetNumbers(SheetShift shift);

  uint64_t m_serial;
  FormulaTable m_formulas;  // declared first so that it outlives the sheets' formulas
  GrowArray<Sheet*> m_sheets;
  int32_t m_activeSheet = 0;
  std::vector<ExternalBook> m_externalBooks;
};

/// A new workbook with `sheetCount` default-named sheets (none below 1), the
/// built-in number formats, the six standard fonts and style 0.
std::unique_ptr<Workbook> newWorkbook(int32_t sheetCount);

}  // namespace kelp
