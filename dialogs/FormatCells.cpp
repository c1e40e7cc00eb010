// Format Cells: five pages over a copy of the active cell's style; OK compares each
// field with where it started and applies only what moved.
#include "dialogs/FormatCells.h"

#include <algorithm>

#include "dialogs/Form.h"
#include "dialogs/NumberFormatDialogs.h"
#include "edit/Commands.h"
#include "format/ValueText.h"
#include "model/Workbook.h"
#include "platform/StringTable.h"
#include "platform/Text.h"
#include "platform/ui/Font.h"

namespace kelp {

namespace {

constexpr int CategoryField = 1120;
constexpr int FormatsField = 1121;
constexpr int NewButton = 1122;
constexpr int DeleteButton = 1123;
constexpr int HorizontalField = 1124;
constexpr int VerticalField = 1125;
constexpr int WrapField = 1126;
constexpr int FaceField = 1127;
constexpr int SizeField = 1128;
constexpr int ColorField = 1129;
constexpr int BackColorField = 1130;
constexpr int BoldField = 1131;
constexpr int ItalicField = 1132;
constexpr int UnderlineField = 1133;
constexpr int BorderFields[4] = {1134, 1135, 1136, 1137};  // left, right, top, bottom
constexpr int LockedField = 1138;
constexpr int HiddenField = 1139;

constexpr int TitleString = 2564;
constexpr int NumberString = 2502;
constexpr int DateTimeString = 2503;
constexpr int FirstColorString = 4000;
constexpr int FirstNamedColor = 8;  // the colour names are palette entries 8 to 23
constexpr int NamedColors = 16;

// The horizontal alignments the Align page offers, by list position.
constexpr int kHorizontal[] = {HAlign::General, HAlign::Left, HAlign::Center, HAlign::Right, HAlign::CenterAcross};
const std::vector<std::u16string> kBorderNames = {
    u"None",   u"Thin",   u"Medium", u"Dashed",      u"Dotted",       u"Thick",       u"Double",
    u"Hair",   u"Medium dashed", u"Dash dot", u"Medium dash dot", u"Dash dot dot", u"Medium dash dot dot",
    u"Slanted dash dot"};
constexpr int kSizes[] = {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72};

bool isDateCategory(const NumberFormatRecord& format) { return format.kind == FormatKind::DateTime; }

// The indexes of the workbook's formats in a category, in list order.
std::vector<int32_t> formatsOf(const Workbook& book, bool dates) {
  std::vector<int32_t> out;
  for (size_t i = 0; i < book.numberFormats.size(); ++i)
    if (isDateCategory(book.numberFormats[i]) == dates) out.push_back(static_cast<int32_t>(i));
  return out;
}

std::vector<std::u16string> namesOf(const Workbook& book, const std::vector<int32_t>& indexes) {
  std::vector<std::u16string> out;
  for (int32_t i : indexes) out.push_back(formatListName(book.numberFormats[static_cast<size_t>(i)]));
  return out;
}

int positionOf(const std::vector<int32_t>& indexes, int32_t format) {
  auto at = std::find(indexes.begin(), indexes.end(), format);
  return at == indexes.end() ? 0 : static_cast<int>(at - indexes.begin());
}

int colorPosition(int color) {
  if (color >= FirstNamedColor && color < FirstNamedColor + NamedColors) return color - FirstNamedColor;
  return color >= 0 && color < 8 ? color : 0;  // 0-7 repeat the first eight; automatic shows as black
}

// What the Format page has chosen while the sheet is open.
struct FormatState {
  Workbook& book;
  bool dates = false;
  std::vector<int32_t> shown;
  int32_t chosen = 0;
  int32_t original = 0;  // the active cell's format, renumbered when a format is deleted
};

void showFormats(FormDialog& dialog, FormatState& state, bool dates, int32_t select) {
  state.dates = dates;
  state.shown = formatsOf(state.book, dates);
  dialog.setChoices(FormatsField, namesOf(state.book, state.shown));
  state.chosen = state.shown.empty() ? 0 : state.shown[static_cast<size_t>(positionOf(state.shown, select))];
  if (auto* list = dialog.controlAs<ListBox>(FormatsField)) list->select(positionOf(state.shown, state.chosen));
  dialog.enableField(DeleteButton, state.book.isUserFormat(state.chosen));
}

}  // namespace

std::u16string formatListName(const NumberFormatRecord& format) {
  if (format.kind == FormatKind::Text) return u"Text";
  if (format.kind == FormatKind::DateTime) {
    if (format.datePicture.empty() || format.timePicture.empty()) return format.datePicture + format.timePicture;
    return format.datePicture + u" " + format.timePicture;
  }
  if (format.general) return u"General";
  std::u16string positive, negative;
  fixedNumberText(1234.5, format, positive);
  fixedNumberText(-1234.5, format, negative);
  return positive + u"  " + negative;
}

bool runFormatCellsDialog(Desktop& desktop, Workbook& workbook, UndoList& undo) {
  Sheet* sheet = workbook.activeSheet();
  if (!sheet) return false;
  const int16_t activeStyle = sheet->effectiveStyle(sheet->selection.activeColumn, sheet->selection.activeRow);
  const StyleRecord style = workbook.style(activeStyle);
  const FontRecord font = style.font < workbook.fonts.size() ? workbook.fonts[style.font] : workbook.fonts[0];

  FormatState state{workbook, false, {}, 0, 0};
  state.original = state.chosen = style.numberFormat;
  const bool dates = style.numberFormat < workbook.numberFormats.size() &&
                     isDateCategory(workbook.numberFormats[style.numberFormat]);
  state.shown = formatsOf(workbook, dates);
  state.dates = dates;

  std::vector<std::u16string> faces = installedFaces();
  if (std::find(faces.begin(), faces.end(), font.face()) == faces.end()) faces.emplace_back(font.face());
  std::vector<std::u16string> sizes;
  for (int points : kSizes) sizes.push_back(decimalText(points));
  const std::u16string size = decimalText(font.height / 20);
  if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) sizes.push_back(size);
  std::vector<std::u16string> colors;
  for (int i = 0; i < NamedColors; ++i) colors.emplace_back(loadString(FirstColorString + i));

  Form form{std::u16string(loadString(TitleString)), {}, nullptr, nullptr};
  form.help = u"format";
  form.pages = {
      {u"Format",
       {choiceField(CategoryField, u"Category:",
                    {std::u16string(loadString(NumberString)), std::u16string(loadString(DateTimeString))}),
        choiceField(FormatsField, u"Format:", namesOf(workbook, state.shown), 5), buttonField(NewButton, u"New..."),
        buttonField(DeleteButton, u"Delete")}},
      {u"Align",
       {choiceField(HorizontalField, u"Horizontal:", {u"General", u"Left", u"Center", u"Right", u"Center Selection"}),
        choiceField(VerticalField, u"Vertical:", {u"Top", u"Center", u"Bottom"}), checkField(WrapField, u"Wrap text")}},
      {u"Font",
       {choiceField(FaceField, u"Font:", faces), choiceField(SizeField, u"Size:", sizes),
        choiceField(ColorField, u"Color:", colors), choiceField(BackColorField, u"Back color:", colors),
        checkField(BoldField, u"Bold"), checkField(ItalicField, u"Italic"), checkField(UnderlineField, u"Underline")}},
      {u"Border",
       {choiceField(BorderFields[0], u"Left:", kBorderNames), choiceField(BorderFields[1], u"Right:", kBorderNames),
        choiceField(BorderFields[2], u"Top:", kBorderNames), choiceField(BorderFields[3], u"Bottom:", kBorderNames)}},
      {u"Protect", {checkField(LockedField, u"Locked"), checkField(HiddenField, u"Hidden")}},
  };
  form.update = [&state](FormDialog& dialog, const FormValues& values) {
    // Fields tell their first values while the sheet is still being built.
    if (!values.choice.count(CategoryField) || !values.choice.count(FormatsField)) return;
    const bool wantDates = values.choice.at(CategoryField) == 1;
    if (wantDates != state.dates) {
      showFormats(dialog, state, wantDates, wantDates ? BuiltInFormat::ShortDate : BuiltInFormat::General);
      return;
    }
    const int position = values.choice.at(FormatsField);
    if (position >= 0 && position < static_cast<int>(state.shown.size()))
      state.chosen = state.shown[static_cast<size_t>(position)];
    dialog.enableField(DeleteButton, state.book.isUserFormat(state.chosen));
  };
  form.press = [&state, &desktop](FormDialog& dialog, int id) {
    Workbook& book = state.book;
    if (id == NewButton) {
      // A style may name a format past the list's end; it shows as General.
      const NumberFormatRecord from = static_cast<size_t>(state.chosen) < book.numberFormats.size()
                                          ? book.numberFormats[static_cast<size_t>(state.chosen)]
                                          : generalFormat();
      const int32_t added = state.dates ? runDateFormatDialog(desktop, book, from)
                                        : runNumberFormatDialog(desktop, book, from);
      if (added >= 0) showFormats(dialog, state, state.dates, added);
    } else if (id == DeleteButton && book.isUserFormat(state.chosen)) {
      const int32_t gone = state.chosen;
      if (!book.removeNumberFormat(gone)) return;
      book.modified = true;
      if (state.original == gone) state.original = BuiltInFormat::General;
      else if (state.original > gone) --state.original;
      showFormats(dialog, state, state.dates, state.dates ? BuiltInFormat::ShortDate : BuiltInFormat::General);
    }
  };

  FormValues start;
  start.choice[CategoryField] = dates ? 1 : 0;
  start.choice[FormatsField] = positionOf(state.shown, state.chosen);
  const int horizontal = style.horizontalAlignment();
  const auto* h = std::find(std::begin(kHorizontal), std::end(kHorizontal), horizontal);
  start.choice[HorizontalField] = h == std::end(kHorizontal) ? 0 : static_cast<int>(h - std::begin(kHorizontal));
  start.choice[VerticalField] = std::min(style.verticalAlignment(), static_cast<int>(VAlign::Bottom));
  start.check[WrapField] = style.wrapText();
  start.choice[FaceField] = static_cast<int>(std::find(faces.begin(), faces.end(), font.face()) - faces.begin());
  start.choice[SizeField] = static_cast<int>(std::find(sizes.begin(), sizes.end(), size) - sizes.begin());
  start.choice[ColorField] = font.color == 0x7FFF ? 0 : colorPosition(font.color);
  // Without a solid fill a cell shows white, whatever colours the record carries.
  start.choice[BackColorField] = style.fillPattern() == 1 ? colorPosition(style.fillForeground()) : 1;
  start.check[BoldField] = font.weight >= 600 || (font.options & FontOption::Bold);
  start.check[ItalicField] = font.options & FontOption::Italic;
  start.check[UnderlineField] = font.underline != 0;
  for (int side = 0; side < 4; ++side)
    start.choice[BorderFields[side]] = std::min(style.borderStyle(static_cast<Edge>(side)), 13);
  start.check[LockedField] = style.locked();
  start.check[HiddenField] = style.formulaHidden();

  FormValues values = start;
  if (!runForm(desktop, form, values)) return false;

  // Only the fields the user moved go into the masks.
  StyleRecord fields = style;
  FontRecord fontFields = font;
  uint32_t styleMask = 0, fontMask = 0;
  auto choiceMoved = [&](int id) { return values.choice[id] != start.choice[id]; };
  auto checkMoved = [&](int id) { return values.check[id] != start.check[id]; };
  if (state.chosen != state.original) {
    fields.numberFormat = static_cast<uint16_t>(state.chosen);
    styleMask |= StyleField::NumberFormat;
  }
  if (choiceMoved(HorizontalField)) {
    fields.setHorizontalAlignment(kHorizontal[std::clamp(values.choice[HorizontalField], 0, 4)]);
    styleMask |= StyleField::HorizontalAlignment;
  }
  if (choiceMoved(VerticalField)) {
    fields.setVerticalAlignment(values.choice[VerticalField]);
    styleMask |= StyleField::VerticalAlignment;
  }
  if (checkMoved(WrapField)) {
    fields.setWrapText(values.check[WrapField]);
    styleMask |= StyleField::WrapText;
  }
  if (choiceMoved(BackColorField)) {
    fields.setFillForeground(FirstNamedColor + values.choice[BackColorField]);
    fields.setFillPattern(1);
    styleMask |= StyleField::FillForeground | StyleField::FillPattern;
  }
  constexpr uint32_t borderFlags[4] = {StyleField::BorderLeft, StyleField::BorderRight, StyleField::BorderTop,
                                       StyleField::BorderBottom};
  for (int side = 0; side < 4; ++side) {
    if (!choiceMoved(BorderFields[side])) continue;
    fields.setBorderStyle(static_cast<Edge>(side), values.choice[BorderFields[side]]);
    styleMask |= borderFlags[side];
  }
  if (checkMoved(LockedField)) {
    fields.setLocked(values.check[LockedField]);
    styleMask |= StyleField::Locked;
  }
  if (checkMoved(HiddenField)) {
    fields.setFormulaHidden(values.check[HiddenField]);
    styleMask |= StyleField::FormulaHidden;
  }
  if (choiceMoved(FaceField)) {
    fontFields.setFace(faces[static_cast<size_t>(values.choice[FaceField])]);
    fontMask |= FontField::Face;
  }
  if (choiceMoved(SizeField)) {
    const std::u16string& points = sizes[static_cast<size_t>(values.choice[SizeField])];
    fontFields.height = static_cast<uint16_t>(std::stoi(utf16ToUtf8(points)) * 20);
    fontMask |= FontField::Height;
  }
  if (choiceMoved(ColorField)) {
    fontFields.color = static_cast<uint16_t>(FirstNamedColor + values.choice[ColorField]);
    fontMask |= FontField::Color;
  }
  if (checkMoved(BoldField)) {
    const bool bold = values.check[BoldField];
    fontFields.weight = bold ? 700 : 400;
    fontFields.options = static_cast<uint16_t>(bold ? fontFields.options | FontOption::Bold
                                                    : fontFields.options & ~FontOption::Bold);
    fontMask |= FontField::Weight | FontField::Bold;
  }
  if (checkMoved(ItalicField)) {
    fontFields.options = static_cast<uint16_t>(values.check[ItalicField] ? fontFields.options | FontOption::Italic
                                                                         : fontFields.options & ~FontOption::Italic);
    fontMask |= FontField::Italic;
  }
  if (checkMoved(UnderlineField)) {
    fontFields.underline = values.check[UnderlineField] ? 1 : 0;
    fontMask |= FontField::Underline;
  }
  return applyStyleFields(workbook, undo, fields, styleMask, fontFields, fontMask);
}

}  // namespace kelp
