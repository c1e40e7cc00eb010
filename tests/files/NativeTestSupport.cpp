// The rich workbook of the file tests and the comparison of workbooks field by field.
#include "NativeTestSupport.h"

#include "files/Password.h"
#include "formula/Compiler.h"
#include "formula/FormulaText.h"

namespace kelp::test {

std::string tokenText(uint32_t handle) {
  if (handle == NoHandle) return "<none>";
  const auto* entry = static_cast<const uint8_t*>(formulaPool().data(handle));
  uint32_t length = readU32(entry);
  const uint8_t* tokens = entry + 4;
  std::string out;
  for (uint32_t at = 0; at < length;) {
    uint8_t op = tokens[at];
    uint8_t size = payloadSize(op);
    if (size == 255 || at + 1 + size > length) return out + "<bad>";
    out += opName(op);
    if (op == static_cast<uint8_t>(Op::String)) {
      uint32_t text = readU32(tokens + at + 1);
      out += "\"";
      if (text != NoHandle)
        for (const char16_t* c = static_cast<const char16_t*>(textPool().data(text)); *c; ++c) out += std::to_string(*c) + ",";
      out += "\"";
    } else {
      for (uint8_t i = 0; i < size; ++i) out += " " + std::to_string(tokens[at + 1 + i]);
    }
    out += ";";
    at += 1 + size;
  }
  return out;
}

void setText(Sheet& sheet, int32_t col, int32_t row, std::u16string_view text, int16_t style) {
  CellRecord record{emptyValue(), style};
  makeText(record.value, text);
  ASSERT_TRUE(sheet.setCell(col, row, record));
}

void setFormula(Sheet& sheet, int32_t col, int32_t row, uint32_t tokens, CellValue cached, int16_t style) {
  CellValue f = newFormulaValue(
      tokens, CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(sheet.index)});
  ASSERT_EQ(f.kind, ValueKind::Formula);
  formulaResult(f) = cached;
  ASSERT_TRUE(sheet.setCell(col, row, CellRecord{f, style}));
}

void setFormula(Workbook& book, Sheet& sheet, int32_t col, int32_t row, std::u16string_view text) {
  const CellPosition at{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(sheet.index)};
  const uint32_t tokens = compileToHandle(book, text, at, false);
  ASSERT_NE(tokens, NoHandle) << "formula does not compile";
  ASSERT_TRUE(sheet.setCell(col, row, CellRecord{newFormulaValue(tokens, at), -1}));
}

std::u16string formulaOf(const Workbook& book, const Sheet& sheet, int32_t col, int32_t row) {
  const CellRecord* cell = sheet.cellPtr(col, row);
  if (!cell || cell->value.kind != ValueKind::Formula) return u"(no formula)";
  std::u16string text;
  formulaText(book, static_cast<const uint8_t*>(formulaPool().data(formulaTokens(cell->value))),
              CellPosition{static_cast<uint16_t>(col), static_cast<uint16_t>(row), static_cast<uint16_t>(sheet.index)},
              text);
  return text;
}

std::vector<uint8_t> hex(const char* text) {
  std::vector<uint8_t> out;
  for (const char* p = text; *p;) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

std::unique_ptr<Workbook> richWorkbook(bool withPassword) {
  installTokenHooks();
  auto book = newWorkbook(3);
  Workbook& wb = *book;
  wb.renameSheet(1, u"Daten Ü");
  int32_t other = wb.findOrAddExternalBook(u"/data/", u"Other.kp");
  wb.externalBook(other)->sheetNames = {u"Alpha", u"Beta"};

  // Fonts, number formats of all three kinds, styles using them.
  FontRecord font = makeFont(u"Courier New", 700, FontOption::Bold);
  font.height = 240;
  font.color = 10;
  font.underline = 1;
  int32_t fontIndex = wb.addFont(font);
  NumberFormatRecord money = fixedFormat(3, true);
  money.positivePrefix = u"€ ";
  money.negativePrefix = u"-€ ";
  money.updatePercent();
  int32_t moneyIndex = wb.findOrAddNumberFormat(money);
  NumberFormatRecord date = dateFormat(u"yyyy-MM-dd", u"HH:mm");
  int32_t dateIndex = wb.findOrAddNumberFormat(date);
  NumberFormatRecord text;
  text.kind = FormatKind::Text;
  int32_t textIndex = wb.findOrAddNumberFormat(text);
  StyleRecord bold = newStyleRecord();
  bold.font = static_cast<uint16_t>(fontIndex);
  bold.numberFormat = static_cast<uint16_t>(moneyIndex);
  bold.setBorderStyle(Edge::Bottom, 2);
  bold.setBorderColor(Edge::Left, 12);
  bold.setHorizontalAlignment(HAlign::Center);
  bold.setRotation(45);
  int16_t boldStyle = static_cast<int16_t>(wb.findOrAddStyle(bold));
  StyleRecord dated = newStyleRecord();
  dated.numberFormat = static_cast<uint16_t>(dateIndex);
  dated.setFillPattern(3);
  int16_t dateStyle = static_cast<int16_t>(wb.findOrAddStyle(dated));
  StyleRecord texted = newStyleRecord();
  texted.numberFormat = static_cast<uint16_t>(textIndex);
  texted.setIndent(2);
  int16_t textStyle = static_cast<int16_t>(wb.findOrAddStyle(texted));

  // Names: one refers to the next, so definitions must wait for every name.
  wb.setName(u"Rate", TokenBuilder().name(1).number(2).op(Op::Multiply).handle());
  wb.setName(u"Base", TokenBuilder().sheetCell(0, 1, 0, 0).handle());
  wb.setName(u"Greeting", TokenBuilder().text(u"Grüße").handle());
  wb.setName(u"Empty", NoHandle);

  Sheet& s0 = *wb.sheetAt(0);
  CellRecord cell{numberValue(3.25), boldStyle};
  EXPECT_TRUE(s0.setCell(0, 0, cell));
  s0.setCell(1, 0, CellRecord{dateTimeValue(45000.5), dateStyle});
  s0.setCell(2, 0, CellRecord{logicalValue(true), -1});
  s0.setCell(3, 0, CellRecord{errorValue(CellError::Div0), -1});
  setText(s0, 4, 0, u"Ελληνικά ✓", textStyle);
  setText(s0, 5, 0, u"plain");
  s0.setCell(9, 0, CellRecord{emptyValue(), boldStyle});  // a styled blank
  // Every token kind, strings, names, 3-D and external references.
  uint32_t f1 = TokenBuilder()
                    .cell(0, static_cast<uint16_t>(RefBit::RelativeRow | RefBit::RelativeColumn | 0xFF))
                    .area(0, 0, 2, 3)
                    .call(4, 2)
                    .text(u"x€y")
                    .op(Op::Concatenate)
                    .name(0)
                    .op(Op::Add)
                    .sheetCell(0, 1, 5, 2)
                    .sheetArea(1, 0, 1, 0, 0, 9, 1)
                    .logical(true)
                    .error(CellError::NA)
                    .integer(-7)
                    .dateTime(1.5)
                    .call(FunctionIndex::Now, 0)
                    .handle();
  setFormula(s0, 0, 1, f1, numberValue(42));
  // Two cells sharing one token string, one with a text result.
  uint32_t f2 = TokenBuilder().text(u"shared").handle();
  setFormula(s0, 1, 1, f2, emptyValue());
  formulaResult(s0.cellPtr(1, 1)->value) = emptyValue();
  {
    CellValue cached;
    makeText(cached, u"shared");
    setFormula(s0, 2, 1, formulaPool().addRef(f2), cached, boldStyle);
  }
  for (int r = 2; r < 40; ++r) s0.setCell(r % 7, r, CellRecord{numberValue(r * 1.5), -1});
  s0.setRowHeight(3, 600, true);
  s0.setRowHidden(4, true);
  s0.setRowStyle(5, dateStyle);
  s0.setRowHeight(60, 400, true);  // a row with nothing but its height
  s0.columns.setColumnWidths(2, 4, 3000);
  s0.columns.setColumnStyles(6, 6, textStyle);
  s0.columns.setColumnsHidden(7, 7, true);
  s0.columns.setColumnOutlineLevel(8, 9, 2);
  EXPECT_TRUE(s0.mergedAreas.append(Area{10, 0, 11, 2}));
  EXPECT_TRUE(s0.mergedAreas.append(Area{20, 3, 20, 5}));
  s0.view.zoom = 150;
  s0.view.showGridlines = false;
  s0.view.rowsFrozen = true;
  s0.view.columnsFrozen = true;
  s0.view.frozenLastRow = 1;
  s0.view.frozenLastColumn = 0;
  s0.view.topRow = 7;
  s0.view.leftColumn = 3;
  s0.selection = Selection{2, 1, 4, 3, 4, 3, 4, 3};
  s0.isProtected = true;
  s0.print.header = u"Kopfzeile";
  s0.print.footer = u"Seite &P";
  s0.print.leftMargin = 0.5;
  s0.print.bottomMargin = 1.25;
  for (int i = 0; i < 44; ++i) s0.print.pageSetup[i] = static_cast<uint8_t>(i * 7);

  ValidationEntry rule;
  rule.rule.flags = 1 | (1u << 4) | (1u << 8) | (1u << 19) | (0u << 20);
  rule.rule.errorTitle = u"Falsch";
  rule.rule.errorMessage = u"Zwischen 1 und 10";
  rule.rule.inputMessage = u"Zahl eingeben";
  rule.rule.formula1 = TokenBuilder().number(1).handle();
  rule.rule.formula2 = TokenBuilder().text(u"10").handle();
  rule.areas = {Area{0, 0, 5, 0}, Area{8, 2, 9, 3}};
  s0.validations.push_back(std::move(rule));
  ValidationEntry list;
  list.rule.flags = 3 | (1u << 7);
  list.rule.list = {u"Ja", u"Nein", u"Vielleicht"};
  list.areas = {Area{30, 1, 35, 1}};
  s0.validations.push_back(std::move(list));

  s0.autoFilter.active = 1;
  s0.autoFilter.area = Area{2, 0, 39, 2};
  s0.autoFilter.columns.resize(3);
  s0.autoFilter.columns[1] = FilterColumn{4, 0, 0, 3, 5, 1, u">10", u"<20"};
  s0.autoFilter.columns[2] = FilterColumn{1, 5, 1, 0, 0, 0, u"", u""};

  Sheet& s1 = *wb.sheetAt(1);
  setText(s1, 0, 0, u"second sheet");
  s1.setCell(200, 65535, CellRecord{numberValue(-1e300), -1});
  s1.visibility = SheetVisibility::Hidden;
  wb.sheetAt(2)->visibility = SheetVisibility::Internal;

  WorkbookTask task;
  task.name = u"OnFileOpen";
  task.definition = u"MsgBox(\"hi\")";
  task.runOn = 1;
  task.menuText = u"Begrüßen";
  wb.tasks.push_back(task);
  WorkbookTask tap;
  tap.name = u"Tap";
  tap.definition = u"Sel(A1)";
  tap.runOn = 2;
  uint8_t area[12] = {0, 255, 245, 0, 1, 0, 2, 0, 3, 0, 4, 0};
  std::memcpy(tap.area, area, 12);
  wb.tasks.push_back(tap);
  WorkbookTask global;
  global.name = u"Everywhere";
  global.global = true;  // kept in the settings, not in the file
  wb.tasks.push_back(global);

  wb.palette.colors[3] = 0x00123456;
  wb.palette.changed = true;
  wb.isProtected = true;
  wb.setActiveSheet(1);
  if (withPassword) {
    wb.password = u"Geheim";
    wb.passwordHash = passwordHash(wb.password);
  }
  return book;
}

namespace {

void expectSameSheet(const Sheet& a, const Sheet& b) {
  SCOPED_TRACE(std::string("sheet ") + std::to_string(a.index));
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.visibility, b.visibility);
  EXPECT_EQ(a.isProtected, b.isProtected);
  EXPECT_EQ(a.view.zoom, b.view.zoom);
  EXPECT_EQ(a.view.showGridlines, b.view.showGridlines);
  EXPECT_EQ(a.view.showHeaders, b.view.showHeaders);
  EXPECT_EQ(a.view.showZeros, b.view.showZeros);
  EXPECT_EQ(a.view.rowsFrozen, b.view.rowsFrozen);
  EXPECT_EQ(a.view.columnsFrozen, b.view.columnsFrozen);
  EXPECT_EQ(a.view.frozenFirstRow, b.view.frozenFirstRow);
  EXPECT_EQ(a.view.frozenFirstColumn, b.view.frozenFirstColumn);
  EXPECT_EQ(a.view.frozenLastRow, b.view.frozenLastRow);
  EXPECT_EQ(a.view.frozenLastColumn, b.view.frozenLastColumn);
  EXPECT_EQ(a.view.topRow, b.view.topRow);
  EXPECT_EQ(a.view.leftColumn, b.view.leftColumn);
  EXPECT_EQ(a.selection.area(), b.selection.area());
  EXPECT_EQ(a.selection.activeRow, b.selection.activeRow);
  EXPECT_EQ(a.selection.activeColumn, b.selection.activeColumn);
  EXPECT_EQ(a.print.header, b.print.header);
  EXPECT_EQ(a.print.footer, b.print.footer);
  EXPECT_EQ(a.print.leftMargin, b.print.leftMargin);
  EXPECT_EQ(a.print.rightMargin, b.print.rightMargin);
  EXPECT_EQ(a.print.topMargin, b.print.topMargin);
  EXPECT_EQ(a.print.bottomMargin, b.print.bottomMargin);
  EXPECT_EQ(0, std::memcmp(a.print.pageSetup, b.print.pageSetup, sizeof a.print.pageSetup));
  for (int32_t c = 0; c < MaxColumns; ++c) {
    EXPECT_EQ(a.columns.columnWidth(c), b.columns.columnWidth(c)) << "column " << c;
    EXPECT_EQ(a.columns.record(c).style, b.columns.record(c).style) << "column " << c;
    EXPECT_EQ(a.columns.record(c).flags, b.columns.record(c).flags) << "column " << c;
  }
  for (int32_t r = 0; r < MaxRows; ++r) {
    if (!a.rowExists(r) && !b.rowExists(r)) continue;
    ASSERT_EQ(a.rowExists(r), b.rowExists(r)) << "row " << r;
    EXPECT_EQ(a.rowAt(r)->height, b.rowAt(r)->height) << "row " << r;
    EXPECT_EQ(a.rowAt(r)->flags, b.rowAt(r)->flags) << "row " << r;
    EXPECT_EQ(a.rowStyle(r), b.rowStyle(r)) << "row " << r;
    for (int32_t c = 0; c < MaxColumns; ++c) {
      CellRecord x, y;
      a.getCell(c, r, x);
      b.getCell(c, r, y);
      ASSERT_EQ(x.value.kind, y.value.kind) << "cell " << c << "," << r;
      EXPECT_EQ(x.style, y.style) << "cell " << c << "," << r;
      const CellValue& vx = effectiveValue(x.value);
      const CellValue& vy = effectiveValue(y.value);
      EXPECT_EQ(vx.kind, vy.kind) << "cell " << c << "," << r;
      if (vx.kind == ValueKind::Text) EXPECT_EQ(textOf(vx), textOf(vy)) << "cell " << c << "," << r;
      else EXPECT_TRUE(valuesEqual(vx, vy)) << "cell " << c << "," << r;
      if (x.value.kind == ValueKind::Formula) {
        EXPECT_EQ(tokenText(formulaTokens(x.value)), tokenText(formulaTokens(y.value))) << "cell " << c << "," << r;
        const CellPosition at = formulaPosition(y.value);
        EXPECT_EQ(at.row, r);
        EXPECT_EQ(at.column, c);
        EXPECT_EQ(at.sheet, b.index);
      }
    }
  }
  ASSERT_EQ(a.mergedAreas.size(), b.mergedAreas.size());
  for (int32_t i = 0; i < a.mergedAreas.size(); ++i) EXPECT_EQ(a.mergedAreas[i], b.mergedAreas[i]);
  ASSERT_EQ(a.validations.size(), b.validations.size());
  for (size_t i = 0; i < a.validations.size(); ++i) {
    const ValidationRule& x = a.validations[i].rule;
    const ValidationRule& y = b.validations[i].rule;
    EXPECT_EQ(x.flags, y.flags);
    EXPECT_EQ(x.errorTitle, y.errorTitle);
    EXPECT_EQ(x.errorMessage, y.errorMessage);
    EXPECT_EQ(x.inputTitle, y.inputTitle);
    EXPECT_EQ(x.inputMessage, y.inputMessage);
    EXPECT_EQ(tokenText(x.formula1), tokenText(y.formula1));
    EXPECT_EQ(tokenText(x.formula2), tokenText(y.formula2));
    EXPECT_EQ(x.list, y.list);
    EXPECT_EQ(a.validations[i].areas, b.validations[i].areas);
  }
  EXPECT_EQ(a.autoFilter.active, b.autoFilter.active);
  if (a.autoFilter.active) {
    EXPECT_EQ(a.autoFilter.area, b.autoFilter.area);
    ASSERT_EQ(a.autoFilter.columns.size(), b.autoFilter.columns.size());
    for (size_t i = 0; i < a.autoFilter.columns.size(); ++i) {
      const FilterColumn& x = a.autoFilter.columns[i];
      const FilterColumn& y = b.autoFilter.columns[i];
      EXPECT_EQ(std::tie(x.kind, x.count, x.largest, x.operator1, x.operator2, x.joinAnd, x.text1, x.text2),
                std::tie(y.kind, y.count, y.largest, y.operator1, y.operator2, y.joinAnd, y.text1, y.text2));
    }
  }
}

}  // namespace

void expectSameWorkbook(const Workbook& a, const Workbook& b) {
  ASSERT_EQ(a.sheetCount(), b.sheetCount());
  EXPECT_EQ(a.activeSheetIndex(), b.activeSheetIndex());
  EXPECT_EQ(a.isProtected, b.isProtected);
  EXPECT_EQ(a.passwordHash, b.passwordHash);
  EXPECT_EQ(a.password, b.password);
  EXPECT_EQ(a.codePage, b.codePage);
  EXPECT_EQ(a.palette.changed, b.palette.changed);
  EXPECT_EQ(a.palette.colors, b.palette.colors);
  ASSERT_EQ(a.fonts.size(), b.fonts.size());
  for (int32_t i = 0; i < a.fonts.size(); ++i) {
    EXPECT_TRUE(a.fonts[i].sameAs(b.fonts[i])) << "font " << i;
    EXPECT_EQ(a.fonts[i].reserved, b.fonts[i].reserved) << "font " << i;
  }
  ASSERT_EQ(a.styles.size(), b.styles.size());
  for (int32_t i = 0; i < a.styles.size(); ++i) EXPECT_EQ(a.styles[i], b.styles[i]) << "style " << i;
  ASSERT_EQ(a.numberFormats.size(), b.numberFormats.size());
  for (size_t i = 0; i < a.numberFormats.size(); ++i) {
    EXPECT_TRUE(a.numberFormats[i].sameAs(b.numberFormats[i])) << "format " << i;
    EXPECT_EQ(a.numberFormats[i].decimals, b.numberFormats[i].decimals) << "format " << i;
  }
  ASSERT_EQ(a.names.size(), b.names.size());
  for (size_t i = 0; i < a.names.size(); ++i) {
    EXPECT_EQ(a.names[i].text, b.names[i].text);
    EXPECT_EQ(tokenText(a.names[i].definition), tokenText(b.names[i].definition)) << "name " << i;
    EXPECT_EQ(b.names[i].saveIndex, -1);
  }
  ASSERT_EQ(a.externalBookCount(), b.externalBookCount());
  for (int32_t i = 1; i <= a.externalBookCount(); ++i) {
    EXPECT_EQ(a.externalBook(i)->name, b.externalBook(i)->name);
    EXPECT_EQ(a.externalBook(i)->directory, b.externalBook(i)->directory);
    EXPECT_EQ(a.externalBook(i)->sheetNames, b.externalBook(i)->sheetNames);
  }
  size_t savedTasks = 0;
  for (const WorkbookTask& t : a.tasks)
    if (!t.global) {
      ASSERT_LT(savedTasks, b.tasks.size());
      const WorkbookTask& u = b.tasks[savedTasks++];
      EXPECT_EQ(t.name, u.name);
      EXPECT_EQ(t.definition, u.definition);
      EXPECT_EQ(t.runOn, u.runOn);
      EXPECT_EQ(0, std::memcmp(t.area, u.area, 12));
      EXPECT_EQ(t.menuText, u.menuText);
    }
  EXPECT_EQ(savedTasks, b.tasks.size());
  for (int32_t i = 0; i < a.sheetCount(); ++i) expectSameSheet(*a.sheetAt(i), *b.sheetAt(i));
}

std::vector<uint8_t> saveToBytes(Workbook& book) {
  MemoryDocStream stream;
  stream.allocateBuffer();
  WriteNativeWorkbook(book, stream);
  stream.Flush();
  return std::vector<uint8_t>(stream.data(), stream.data() + stream.size());
}

std::unique_ptr<Workbook> readFromBytes(const std::vector<uint8_t>& bytes, bool& ok, const NativeReadOptions& options,
                                        NativeReadResult* result) {
  auto book = newWorkbook(0);
  MemoryDocStream stream(bytes.data(), bytes.size());
  stream.allocateBuffer();
  ok = ReadNative(*book, stream, options, result);
  return book;
}

std::vector<uint8_t> records(std::initializer_list<std::pair<uint16_t, std::vector<uint8_t>>> list) {
  MemoryDocStream stream;
  for (const auto& [type, data] : list) stream.WriteRecord16(type, static_cast<uint16_t>(data.size()), data.data());
  return std::vector<uint8_t>(stream.data(), stream.data() + stream.size());
}

}  // namespace kelp::test
