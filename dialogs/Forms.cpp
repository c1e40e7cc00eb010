// The small dialogs, each a form and what its OK does.
#include "dialogs/Forms.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "dialogs/DefineName.h"
#include "dialogs/Form.h"
#include "edit/Commands.h"
#include "edit/Fill.h"
#include "edit/Filter.h"
#include "edit/Sort.h"
#include "edit/Outline.h"
#include "files/NativeFormat.h"
#include "format/ValueText.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"
#include "platform/ui/Desktop.h"

namespace kelp {

namespace {

constexpr int ValueField = 1019;
constexpr int StopField = 1020;
constexpr int RowsOrColumns = 1067;
constexpr int FillField = 1075;
constexpr int TypeField = 1076;
constexpr int DateUnitField = 1077;

constexpr int ZoomRangeString = 2572;
constexpr int RowHeightTitleString = 2575;
constexpr int NotANumberString = 2740;
constexpr int GroupTitleString = 2634;
constexpr int UngroupTitleString = 2635;

// Values typed in the dialogs; they last while the program runs.
struct Remembered {
  bool linesAreRows = true;
  bool groupRows = true;
  SeriesSettings series;
};
Remembered& remembered() {
  static Remembered values;
  return values;
}

bool readNumber(std::u16string_view text, double& out) {
  const std::string s = utf16ToUtf8(text);
  size_t start = s.find_first_not_of(' '), end = s.find_last_not_of(' ');
  if (start == std::string::npos) return false;
  auto [last, ec] = std::from_chars(s.data() + start, s.data() + end + 1, out);
  return ec == std::errc() && last == s.data() + end + 1 && std::isfinite(out);
}

std::u16string twoDecimals(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return utf8ToUtf16(buffer);
}

// A number field's value, or a message and the dialog kept open.
bool numberOf(FormDialog& dialog, const FormValues& values, int id, double& out) {
  auto at = values.text.find(id);
  if (at != values.text.end() && readNumber(at->second, out)) return true;
  dialog.showMessage(loadString(NotANumberString));
  return false;
}

std::u16string numberText(double value) {
  std::u16string out;
  generalNumberText(value, out);
  return out;
}

const std::vector<std::u16string> kRowsColumns = {u"Rows", u"Columns"};

}  // namespace

bool askZoom(Desktop& desktop, uint32_t& zoom) {
  Form form{u"Zoom", {numberField(ValueField, u"Zoom (%):", 3)}, nullptr, nullptr};
  form.help = u"zoom";
  form.accept = [](FormDialog& dialog, const FormValues& values) {
    double value = 0;
    if (!readNumber(values.text.at(ValueField), value) || value != std::floor(value) || value < 25 || value > 200) {
      dialog.showMessage(loadString(ZoomRangeString));
      return false;
    }
    return true;
  };
  FormValues values;
  values.text[ValueField] = utf8ToUtf16(std::to_string(zoom));
  if (!runForm(desktop, form, values)) return false;
  double value = 0;
  (void)readNumber(values.text[ValueField], value);
  zoom = static_cast<uint32_t>(value);
  return true;
}

double shownColumnWidth(int32_t stored) { return stored >= 438 ? (stored - 182) / 256.0 : stored / 437.76; }

int32_t storedColumnWidth(double shown) {
  shown = std::min(shown, 255.0);
  return static_cast<int32_t>(shown >= 1 ? shown * 256 + 182 : shown * 437.76);
}

double shownRowHeight(int32_t stored) { return stored * 0.05; }

int32_t storedRowHeight(double shown) { return static_cast<int32_t>(std::min(shown, 409.0) * 20); }

bool runSizeDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, bool rows) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const std::u16string title(rows ? loadString(RowHeightTitleString) : std::u16string_view(u"Column width"));
  Form form{title, {numberField(ValueField, rows ? u"Row height (points):" : u"Column width (characters):", 15)},
            nullptr, nullptr};
  form.help = u"col_widths";
  form.accept = [](FormDialog& dialog, const FormValues& values) {
    double value = 0;
    return numberOf(dialog, values, ValueField, value);
  };
  FormValues values;
  values.text[ValueField] = twoDecimals(rows ? shownRowHeight(sheet->rowHeight(sheet->selection.activeRow))
                                             : shownColumnWidth(sheet->columns.columnWidth(sheet->selection.activeColumn)));
  if (!runForm(desktop, form, values)) return false;
  double value = 0;
  (void)readNumber(values.text[ValueField], value);
  value = std::max(value, 0.0);
  if (rows) {
    const int32_t height = storedRowHeight(value);
    return height < 1 ? hideRows(workbook, undo, true) : setRowHeights(workbook, undo, static_cast<uint16_t>(height));
  }
  const int32_t width = storedColumnWidth(value);
  return width < 1 ? hideColumns(workbook, undo, true) : setColumnWidths(workbook, undo, width);
}

bool runLinesDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, bool insert) {
  Form form{insert ? u"Insert Cells" : u"Delete Cells", {choiceField(RowsOrColumns, u"", kRowsColumns)}, nullptr,
            nullptr};
  form.help = u"insert_delete";
  FormValues values;
  values.choice[RowsOrColumns] = remembered().linesAreRows ? 0 : 1;
  if (!runForm(desktop, form, values)) return false;
  const bool columns = values.choice[RowsOrColumns] == 1;
  remembered().linesAreRows = !columns;
  return insert ? insertCells(workbook, undo, columns) : deleteCells(workbook, undo, columns);
}

bool runSeriesDialog(Desktop& desktop, Workbook& workbook, UndoList& undo) {
  SeriesSettings& settings = remembered().series;
  Form form{u"Series",
            {choiceField(FillField, u"Fill:", {u"Right", u"Down"}),
             choiceField(TypeField, u"Type:", {u"Linear", u"Growth", u"Date", u"Autofill"}),
             choiceField(DateUnitField, u"Date unit:", {u"Day", u"Weekday", u"Month", u"Year"}),
             numberField(ValueField, u"Step value:", 30), numberField(StopField, u"Stop value:", 30)},
            nullptr, nullptr};
  form.help = u"series";
  // The date unit means something for dates alone; Autofill takes neither step nor stop.
  form.update = [](FormDialog& dialog, const FormValues& values) {
    const int type = values.choice.count(TypeField) ? values.choice.at(TypeField) : 0;
    dialog.enableField(DateUnitField, type == static_cast<int>(SeriesType::Date));
    dialog.enableField(ValueField, type != static_cast<int>(SeriesType::AutoFill));
    dialog.enableField(StopField, type != static_cast<int>(SeriesType::AutoFill));
  };
  form.accept = [](FormDialog& dialog, const FormValues& values) {
    if (values.choice.at(TypeField) == static_cast<int>(SeriesType::AutoFill)) return true;
    double value = 0;
    if (!numberOf(dialog, values, ValueField, value)) return false;
    // An empty stop value means none.
    const std::u16string& stop = values.text.at(StopField);
    return stop.find_first_not_of(u' ') == std::u16string::npos || numberOf(dialog, values, StopField, value);
  };
  FormValues values;
  values.choice[FillField] = static_cast<int>(settings.direction);
  values.choice[TypeField] = static_cast<int>(settings.type);
  values.choice[DateUnitField] = static_cast<int>(settings.dateUnit);
  values.text[ValueField] = numberText(settings.step);
  values.text[StopField] = settings.hasStop ? numberText(settings.stop) : u"";
  if (!runForm(desktop, form, values)) return false;
  settings.direction = static_cast<FillDirection>(values.choice[FillField]);
  settings.type = static_cast<SeriesType>(values.choice[TypeField]);
  settings.dateUnit = static_cast<DateUnit>(values.choice[DateUnitField]);
  if (settings.type != SeriesType::AutoFill) {
    (void)readNumber(values.text[ValueField], settings.step);
    settings.hasStop = readNumber(values.text[StopField], settings.stop);
  }
  return seriesCommand(workbook, undo, settings);
}

bool runGroupDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, bool group) {
  Form form{std::u16string(loadString(group ? GroupTitleString : UngroupTitleString)), {choiceField(RowsOrColumns, u"", kRowsColumns)},
            nullptr, nullptr};
  form.help = u"outlining";
  FormValues values;
  values.choice[RowsOrColumns] = remembered().groupRows ? 0 : 1;
  if (!runForm(desktop, form, values)) return false;
  const bool columns = values.choice[RowsOrColumns] == 1;
  remembered().groupRows = !columns;
  return groupLines(workbook, undo, columns, group);
}

namespace {

constexpr int SetCellField = 1031;
constexpr int ToValueField = 1070;
constexpr int ChangingCellField = 1071;
constexpr int GoalSeekTitleString = 2637;
constexpr int NotACellString = 2743;

// A single cell of the active sheet, as a formula there would read the text.
bool readCell(Workbook& workbook, std::u16string_view text, uint16_t& column, uint16_t& row) {
  const Sheet& sheet = *workbook.activeSheet();
  const CellPosition base{static_cast<uint16_t>(sheet.selection.activeColumn), sheet.selection.activeRow,
                          static_cast<uint16_t>(sheet.index)};
  CellValue reference = emptyValue();
  if (!readReferenceText(workbook, text, base, reference)) return false;
  const bool here = reference.kind != ValueKind::SheetAreaRef || reference.firstSheet == sheet.index;
  if (!here || reference.u16(0) != reference.u16(2) || reference.u16(1) != reference.u16(3)) return false;
  row = reference.u16(0);
  column = reference.u16(1);
  return true;
}

}  // namespace

bool runGoalSeekDialog(Desktop& desktop, Workbook& workbook, UndoList& undo) {
  static FormValues last;
  if (!workbook.activeSheet()) return false;
  Form form{std::u16string(loadString(GoalSeekTitleString)),
            {textField(SetCellField, u"Set cell:"), numberField(ToValueField, u"To value:", 30),
             textField(ChangingCellField, u"By changing cell:")},
            nullptr, nullptr};
  form.help = u"goal_seek";
  form.accept = [&workbook](FormDialog& dialog, const FormValues& values) {
    uint16_t column = 0, row = 0;
    for (int id : {SetCellField, ChangingCellField}) {
      if (!readCell(workbook, values.text.at(id), column, row)) {
        dialog.showMessage(loadString(NotACellString));
        return false;
      }
    }
    double goal = 0;
    return numberOf(dialog, values, ToValueField, goal);
  };
  FormValues values = last;
  if (values.text.empty()) {
    const Sheet& sheet = *workbook.activeSheet();
    values.text[SetCellField] = cellAddress(sheet.selection.activeColumn, sheet.selection.activeRow);
  }
  if (!runForm(desktop, form, values)) return false;
  last = values;
  uint16_t targetColumn = 0, targetRow = 0, changingColumn = 0, changingRow = 0;
  double goal = 0;
  (void)readCell(workbook, values.text[SetCellField], targetColumn, targetRow);
  (void)readCell(workbook, values.text[ChangingCellField], changingColumn, changingRow);
  (void)readNumber(values.text[ToValueField], goal);
  return goalSeekCommand(workbook, undo, changingColumn, changingRow, targetColumn, targetRow, goal);
}

bool askPasteOptions(Desktop& desktop, PasteOptions& options) {
  constexpr int Contents = 1084, Formats = 1058, Validation = 1087, OnlyResults = 1085, SkipBlanks = 1086;
  static PasteOptions last;
  Form form{u"Paste Special",
            {checkField(Contents, u"Contents"), checkField(Formats, u"Formats"), checkField(Validation, u"Validation"),
             checkField(OnlyResults, u"Only results of formulas"), checkField(SkipBlanks, u"Skip empty cells")},
            nullptr, nullptr};
  form.help = u"paste_special";
  FormValues values;
  values.check = {{Contents, last.contents},       {Formats, last.formats},        {Validation, last.validation},
                  {OnlyResults, last.onlyResults}, {SkipBlanks, last.skipBlanks}};
  if (!runForm(desktop, form, values)) return false;
  last = {values.check[Contents], values.check[Formats], values.check[Validation], values.check[SkipBlanks],
          values.check[OnlyResults]};
  options = last;
  return true;
}

bool askCharacter(Desktop& desktop, char16_t& chosen) {
  constexpr int CharacterList = 1029;
  static constexpr std::u16string_view kCharacters = u":.,;=+-*/()!?@#$%^&[]{}\\~'\"";
  std::vector<std::u16string> items;
  for (char16_t c : kCharacters) items.emplace_back(1, c);
  Form form{u"Insert Character", {choiceField(CharacterList, u"", items, 8)}, nullptr, nullptr};
  form.help = u"insert_char";
  FormValues values;
  if (!runForm(desktop, form, values)) return false;
  chosen = kCharacters[static_cast<size_t>(std::max(0, values.choice[CharacterList]))];
  return true;
}

std::u16string nameWords(std::u16string_view name) {
  static constexpr std::u16string_view kBuiltIn[] = {u"Auto_Open",  u"Auto_Close", u"Extract",     u"Database",
                                                     u"Criteria",   u"Print_Area", u"Print_Titles", u"Recorder",
                                                     u"Data_Form",  u"Auto_Activate", u"Auto_Deactivate",
                                                     u"Sheet_Title"};
  if (!name.empty() && name[0] >= 1 && name[0] <= 12) return std::u16string(kBuiltIn[name[0] - 1]);
  return std::u16string(name);
}

bool askName(Desktop& desktop, const Workbook& workbook, std::u16string& chosen) {
  constexpr int NameList = 1029;
  std::vector<std::u16string> items;
  for (size_t i = 0; i < workbook.names.size(); ++i)
    if (isDefined(workbook, i)) items.push_back(nameWords(workbook.names[i].text));
  if (items.empty()) return false;
  Form form{u"Insert Name", {choiceField(NameList, u"", items, 8)}, nullptr, nullptr};
  form.help = u"insert_name";
  FormValues values;
  if (!runForm(desktop, form, values)) return false;
  chosen = items[static_cast<size_t>(std::max(0, values.choice[NameList]))];
  return true;
}

namespace {

constexpr int Key1 = 1019, Order1 = 1020, Key2 = 1021, Order2 = 1022, Key3 = 1023, Order3 = 1024;
constexpr int HeaderRow = 1058, CaseSensitive = 1025, SortRows = 1027;
constexpr int NoneString = 2511, ColumnString = 2565, RowString = 2566;
constexpr int32_t MostKeyRows = 501;

// The entries of a key list: the selection's columns (by their heading with a header row)
// or, when rows are sorted, its rows; lists 2 and 3 begin with "(none)".
std::vector<std::u16string> keyEntries(const Workbook& workbook, const Sheet& sheet, const Area& area, bool header,
                                       bool rows, bool withNone) {
  std::vector<std::u16string> out;
  if (withNone) out.emplace_back(loadString(NoneString));
  if (rows) {
    for (int32_t r = area.firstRow; r <= area.lastRow && r < area.firstRow + MostKeyRows; ++r)
      out.push_back(std::u16string(loadString(RowString)) + u" " + decimalText(r + 1));
    return out;
  }
  for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) {
    std::u16string label;
    if (header) {
      const CellValue& value = sheet.cellValue(c, area.firstRow);
      if (value.kind != ValueKind::Empty) displayText(value, workbook.numberFormats,
                                                     workbook.style(sheet.effectiveStyle(c, area.firstRow)).numberFormat,
                                                     NoWidthLimit, nullptr, label);
    }
    if (label.empty()) {
      std::u16string letters;
      columnName(static_cast<uint16_t>(c), letters);
      label = std::u16string(loadString(ColumnString)) + u" " + letters;
    }
    out.push_back(std::move(label));
  }
  return out;
}

}  // namespace

bool runSortDialog(Desktop& desktop, Workbook& workbook, UndoList& undo) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  Area area = sheet->selection.area();
  if (area.firstRow == area.lastRow && area.firstColumn == area.lastColumn) {
    if (!dataArea(*sheet, area)) {
      setError(Err::NoData);
      return false;
    }
    sheet->selection = Selection::ofStored(area, area.firstColumn, area.firstRow);
  }
  for (const Area& merged : sheet->mergedAreas) {
    if (merged.overlaps(area)) {
      setError(Err::SortMerged);
      return false;
    }
  }
  const std::vector<std::u16string> orders = {u"Ascending", u"Descending"};
  Form form{u"Sort",
            {choiceField(Key1, u"1.by:", {}), choiceField(Order1, u"", orders), choiceField(Key2, u"2.by:", {}),
             choiceField(Order2, u"", orders), choiceField(Key3, u"3.by:", {}), choiceField(Order3, u"", orders),
             checkField(HeaderRow, u"Header row"), checkField(CaseSensitive, u"Case sensitive"),
             checkField(SortRows, u"Sort rows")},
            nullptr, nullptr};
  form.help = u"sort";
  // The key lists follow the boxes: headings or letters, columns or rows.
  form.update = [&workbook, sheet, area](FormDialog& dialog, const FormValues& values) {
    const bool rows = values.check.count(SortRows) && values.check.at(SortRows);
    const bool header = !rows && values.check.count(HeaderRow) && values.check.at(HeaderRow);
    dialog.enableField(HeaderRow, !rows);
    dialog.setChoices(Key1, keyEntries(workbook, *sheet, area, header, rows, false));
    dialog.setChoices(Key2, keyEntries(workbook, *sheet, area, header, rows, true));
    dialog.setChoices(Key3, keyEntries(workbook, *sheet, area, header, rows, true));
  };
  const SortSettings& last = sortSettings();
  FormValues values;
  values.check = {{HeaderRow, last.hasHeader}, {CaseSensitive, last.caseSensitive}, {SortRows, !last.byRows}};
  values.choice = {{Key1, std::max(0, last.key1)},    {Key2, last.key2 + 1},         {Key3, last.key3 + 1},
                   {Order1, last.ascending1 ? 0 : 1}, {Order2, last.ascending2 ? 0 : 1}, {Order3, last.ascending3 ? 0 : 1}};
  if (!runForm(desktop, form, values)) return false;
  SortSettings settings;
  settings.byRows = !values.check[SortRows];
  settings.hasHeader = settings.byRows && values.check[HeaderRow];
  settings.caseSensitive = values.check[CaseSensitive];
  settings.key1 = values.choice[Key1];
  settings.key2 = values.choice[Key2] - 1;
  settings.key3 = values.choice[Key3] - 1;
  settings.ascending1 = values.choice[Order1] == 0;
  settings.ascending2 = values.choice[Order2] == 0;
  settings.ascending3 = values.choice[Order3] == 0;
  return sortSelection(workbook, undo, settings);
}

bool runFilterDialog(Desktop& desktop, Workbook& workbook, UndoList& undo, int32_t column) {
  static constexpr int Mode = 1110, TopCount = 1019, TopWhich = 1054, Operator1 = 1097, Value1 = 1053, Join = 1108,
                Operator2 = 1098, Value2 = 1099;
  const Sheet* sheet = workbook.activeSheet();
  if (!sheet || !sheet->autoFilter.active) return false;
  const AutoFilter& filter = sheet->autoFilter;
  if (column < filter.area.firstColumn || column > filter.area.lastColumn) return false;
  const size_t index = static_cast<size_t>(column - filter.area.firstColumn);
  const FilterColumn now = index < filter.columns.size() ? filter.columns[index] : FilterColumn{};

  std::vector<std::u16string> operators = {u"=", u"<>", u">", u">=", u"<", u"<="};
  for (int id = 2553; id <= 2558; ++id) operators.emplace_back(loadString(id));
  std::vector<std::u16string> second = operators;
  second.insert(second.begin(), u"");
  Form form{u"Filter - Show Rows",
            {choiceField(Mode, u"Show:", {u"All", u"Top:", u"Blanks", u"NonBlanks", u"Where cells in this column:"}),
             numberField(TopCount, u"Count:", 3), choiceField(TopWhich, u"", {u"with largest values", u"with smallest values"}),
             choiceField(Operator1, u"", operators), textField(Value1, u""), choiceField(Join, u"", {u"And", u"Or"}),
             choiceField(Operator2, u"", second), textField(Value2, u"")},
            nullptr, nullptr};
  form.help = u"filter";
  // Only the fields of the chosen mode can be reached; the others are grey.
  form.update = [](FormDialog& dialog, const FormValues& values) {
    const int mode = values.choice.count(Mode) ? values.choice.at(Mode) : 0;
    for (int id : {TopCount, TopWhich}) dialog.enableField(id, mode == static_cast<int>(FilterKind::Top));
    for (int id : {Operator1, Value1, Join, Operator2, Value2})
      dialog.enableField(id, mode == static_cast<int>(FilterKind::Custom));
  };
  FormValues values;
  values.choice = {{Mode, static_cast<int>(now.kind)},
                   {TopWhich, now.largest || now.kind != FilterKind::Top ? 0 : 1},
                   {Operator1, now.operator1 > 0 ? static_cast<int>(now.operator1) - 1 : 0},
                   {Join, now.joinAnd || now.kind != FilterKind::Custom ? 0 : 1},
                   {Operator2, static_cast<int>(now.operator2)}};
  values.text = {{TopCount, now.kind == FilterKind::Top ? decimalText(now.count) : u"10"},
                 {Value1, now.text1},
                 {Value2, now.text2}};
  if (!runForm(desktop, form, values)) return false;
  FilterColumn criterion;
  criterion.kind = static_cast<uint32_t>(values.choice[Mode]);
  if (criterion.kind == FilterKind::Top) {
    double count = 10;
    if (!readNumber(values.text[TopCount], count)) count = 10;
    criterion.count = static_cast<uint32_t>(std::clamp(std::floor(count), 1.0, 100.0));
    criterion.largest = values.choice[TopWhich] == 0;
  } else if (criterion.kind == FilterKind::Custom) {
    criterion.operator1 = static_cast<uint32_t>(values.choice[Operator1] + 1);
    criterion.operator2 = static_cast<uint32_t>(values.choice[Operator2]);
    criterion.joinAnd = values.choice[Join] == 0;
    criterion.text1 = values.text[Value1];
    criterion.text2 = criterion.operator2 ? values.text[Value2] : u"";
  }
  return filterColumnCommand(workbook, undo, column, criterion);
}

void runAboutDialog(Desktop& desktop) {
  Form form{u"About Kelp",
            {noteField(u"Kelp " + utf8ToUtf16(KELP_VERSION)), noteField(u"A spreadsheet for the keypad."),
             noteField(u"Made by the Kelp developers.")},
            nullptr, nullptr};
  FormValues values;
  (void)runForm(desktop, form, values);
}

}  // namespace kelp
