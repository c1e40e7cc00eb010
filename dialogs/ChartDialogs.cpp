// The Chart dialog with its live preview, Chart Options and the chart window.
#include "dialogs/ChartDialogs.h"

#include <algorithm>
#include <string>
#include <vector>

#include "chart/ChartData.h"
#include "chart/ChartDrawing.h"
#include "dialogs/Form.h"
#include "edit/Commands.h"
#include "formula/Catalogue.h"
#include "formula/Compiler.h"
#include "formula/Evaluator.h"
#include "model/CellTaskText.h"
#include "model/Workbook.h"
#include "platform/ErrorState.h"
#include "platform/StringTable.h"
#include "platform/Text.h"
#include "platform/ui/Desktop.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MessageBox.h"

namespace kelp {

namespace {

// Control ids of the dialog resources.
constexpr int TypeList = 1076;
constexpr int OptionsButton = 1044;
constexpr int Preview = 1093;
constexpr int SaveCell = 1031;
constexpr int TitleField = 1043;
constexpr int XTitleField = 1059;
constexpr int YTitleField = 1060;
constexpr int SeriesIn = 1097;
constexpr int LegendCheck = 1096;
constexpr int AutoScaleCheck = 1056;
constexpr int XAxisCheck = 1054;
constexpr int YAxisCheck = 1055;
constexpr int XGridCheck = 1052;
constexpr int YGridCheck = 1053;
constexpr int FirstTypeString = 2650;
constexpr int ChartIcon = 5;  // the cell task icon of a saved chart
constexpr uint32_t OptionsCommand = 40100;
constexpr uint32_t ZoomCommand = 40101;
constexpr int ZoomField = 1019;
constexpr int ZoomRangeString = 2572;  // "The number must be between 25 and 200."
constexpr int MinZoom = 25, MaxZoom = 200;
constexpr int PreviewHeight = 150;

std::vector<std::u16string> typeNames() {
  std::vector<std::u16string> names;
  for (int i = 0; i < ChartTypeCount; ++i) names.emplace_back(loadString(FirstTypeString + i));
  return names;
}

/// A chart drawn into a control. In the window it takes the focus: the arrows step from
/// point to point, the one chosen framed, and the action key asks for its text.
class ChartView : public Control {
 public:
  void show(const Workbook& book, const ChartOptions& options, bool stepping) {
    m_options = options;
    m_data = chartDataFromSheet(book, options);
    m_stepping = stepping;
    m_current = -1;
    invalidate();
  }
  int zoom() const { return m_zoom; }
  /// Draws the picture at `percent` of the view's size: smaller ones centred, larger
  /// ones scrolled to keep the framed point in sight.
  void setZoom(int percent) {
    m_zoom = percent;
    m_origin = {};
    m_placed = false;
    invalidate();
  }
  bool focusable() const override { return m_stepping; }
  const ChartGeometry& geometry() const { return m_geometry; }
  std::u16string currentText() const {
    return m_current < 0 ? std::u16string() : chartHitText(m_geometry, m_options, m_data, static_cast<size_t>(m_current));
  }
  std::u16string textAt(Point p) const { return chartTapText(m_geometry, m_options, m_data, p); }
  Point tapped() const { return m_tapped; }

 protected:
  int64_t onMessage(Message& m) override {
    switch (m.msg) {
      case Msg::Paint:
        m.canvas->fillRect(clientRect(), Colors::Window);
        m_geometry = drawChart(*m.canvas, pictureRect(), m_options, m_data);
        if (m_current >= 0 && static_cast<size_t>(m_current) < m_geometry.hits.size())
          m.canvas->frameRect(m_geometry.hits[static_cast<size_t>(m_current)].box, Colors::Highlight, 2);
        return 0;
      case Msg::KeyDown: {
        if (!m_stepping) return defaultHandling(m);
        const auto key = static_cast<Key>(m.wParam);
        const int count = static_cast<int>(m_geometry.hits.size());
        if ((key == Key::Right || key == Key::Down || key == Key::Left || key == Key::Up) && count > 0) {
          const int step = key == Key::Right || key == Key::Down ? 1 : -1;
          m_current = m_current < 0 ? (step > 0 ? 0 : count - 1) : (m_current + step + count) % count;
          follow(m_geometry.hits[static_cast<size_t>(m_current)].centre);
          invalidate();
          return 0;
        }
        if (key == Key::Enter) {
          notify(Notify::Activated);
          return 0;
        }
        return defaultHandling(m);
      }
      case Msg::PointerDown:
        m_tapped = {static_cast<int>(m.wParam), static_cast<int>(m.lParam)};
        notify(Notify::Changed);
        return 0;
      default:
        return defaultHandling(m);
    }
  }

 private:
  // The picture's rectangle in the view: the view's size times the zoom, centred until a
  // point is followed.
  Rect pictureRect() {
    const Rect view = clientRect();
    const int w = std::max(1, view.width() * m_zoom / 100), h = std::max(1, view.height() * m_zoom / 100);
    if (!m_placed) {
      m_origin = {view.left + (view.width() - w) / 2, view.top + (view.height() - h) / 2};
      m_placed = true;
    }
    return {m_origin.x, m_origin.y, m_origin.x + w, m_origin.y + h};
  }
  // Moves a picture larger than the view so that `at` (where it is drawn now) comes to
  // the middle, never showing past the picture's edges.
  void follow(Point at) {
    const Rect view = clientRect();
    const Rect picture = pictureRect();
    if (picture.width() <= view.width() && picture.height() <= view.height()) return;
    auto place = [](int origin, int at, int viewLow, int viewSize, int size) {
      if (size <= viewSize) return origin;
      const int moved = origin + (viewLow + viewSize / 2 - at);
      return std::clamp(moved, viewLow + viewSize - size, viewLow);
    };
    m_origin = {place(m_origin.x, at.x, view.left, view.width(), picture.width()),
                place(m_origin.y, at.y, view.top, view.height(), picture.height())};
  }

  ChartOptions m_options;
  ChartData m_data;
  ChartGeometry m_geometry;
  bool m_stepping = false;
  int m_current = -1;
  Point m_tapped;
  int m_zoom = 100;
  Point m_origin;
  bool m_placed = false;
};

// A percentage typed as a whole number, blanks around it allowed; -1 for anything else.
int wholePercent(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 3) return -1;
  int value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return -1;
    value = value * 10 + (c - u'0');
  }
  return value;
}

// Zoom Chart Picture: the picture's size in percent of the window's, 25 to 200.
bool askChartZoom(Desktop& desktop, int& zoom) {
  Form form;
  form.title = u"Zoom Chart Picture";
  form.help = u"zoom";
  form.fields = {numberField(ZoomField, u"% of original size:", 3)};
  form.accept = [](FormDialog& dialog, const FormValues& values) {
    const int value = wholePercent(values.text.at(ZoomField));
    if (value < MinZoom || value > MaxZoom) {
      dialog.showMessage(loadString(ZoomRangeString));
      return false;
    }
    return true;
  };
  FormValues values;
  values.text[ZoomField] = decimalText(zoom);
  if (!runForm(desktop, form, values)) return false;
  zoom = wholePercent(values.text[ZoomField]);
  return true;
}


int lineHeight() { return fontMetrics(systemFont()).lineHeight; }

class ChartDialog : public Dialog {
 public:
  ChartDialog(Workbook& book, UndoList& undo) : Dialog(u"Chart"), m_book(book), m_undo(undo) { setHelpTopic(u"chart"); }

  void build() {
    ChartOptions& options = chartOptions();
    addLabel(u"Chart type:");
    addList(TypeList, typeNames(), 1).select(static_cast<int>(options.type));
    addCustom<Button>(OptionsButton, lineHeight() + 6).setText(u"Options...");
    addCustom<ChartView>(Preview, PreviewHeight).show(m_book, options, false);
  }

 protected:
  void onCommand(int id, int64_t notify) override {
    ChartOptions& options = chartOptions();
    ChartView* preview = controlAs<ChartView>(Preview);
    if (!preview) return;  // the type list notifies while the dialog is still being built
    if (id == TypeList && notify == Notify::Changed) {
      options.type = static_cast<ChartType>(controlAs<ListBox>(TypeList)->selected());
      preview->show(m_book, options, false);
      return;
    }
    if (id == OptionsButton && notify == Notify::Activated) {
      (void)runChartOptionsDialog(desktop(), m_book, m_undo, options);
      preview->show(m_book, options, false);
      return;
    }
    Dialog::onCommand(id, notify);
  }

 private:
  Workbook& m_book;
  UndoList& m_undo;
};

class ChartWindow : public Dialog {
 public:
  ChartWindow(Workbook& book, UndoList& undo)
      : Dialog(u"Chart"), m_book(book), m_undo(undo) {
    setHelpTopic(u"chart");
  }

  void build() {
    const int height = desktop().workArea().height() - lineHeight() - 12;
    addCustom<ChartView>(Preview, height).show(m_book, chartOptions(), true);
    MenuBar& bar = createMenuBar(desktop(), *this);
    Menu& options = bar.setPopup(0, u"Options");
    options.append(OptionsCommand, u"Chart Options...");
    options.append(ZoomCommand, u"Zoom Picture...");
    bar.setKey(1, u"Done", DialogCommand::Cancel);
  }

 protected:
  void onCommand(int id, int64_t notify) override {
    ChartView& view = *controlAs<ChartView>(Preview);
    if (id == static_cast<int>(OptionsCommand) && notify == 0) {
      (void)runChartOptionsDialog(desktop(), m_book, m_undo, chartOptions());
      view.show(m_book, chartOptions(), true);
      return;
    }
    if (id == static_cast<int>(ZoomCommand) && notify == 0) {
      int zoom = view.zoom();
      if (askChartZoom(desktop(), zoom)) view.setZoom(zoom);
      return;
    }
    if (id == Preview && (notify == Notify::Activated || notify == Notify::Changed)) {
      const std::u16string text = notify == Notify::Activated ? view.currentText() : view.textAt(view.tapped());
      if (!text.empty()) messageBox(desktop(), this->id(), text, u"Kelp", BoxFlag::Ok | BoxFlag::IconInformation);
      return;
    }
    if (id == static_cast<int>(DialogCommand::Ok)) return;  // the action key belongs to the points
    Dialog::onCommand(id, notify);
  }

 private:
  Workbook& m_book;
  UndoList& m_undo;
};

// Writes the chart's Chart(...) call into the cell named, as its cell task.
bool saveChartToCell(FormDialog& dialog, Workbook& book, UndoList& undo, const ChartOptions& options,
                     std::u16string_view text) {
  const Sheet& active = *book.activeSheet();
  const CellPosition base{static_cast<uint16_t>(active.selection.activeColumn), active.selection.activeRow,
                          static_cast<uint16_t>(active.index)};
  CellValue reference = emptyValue();
  if (!readReferenceText(book, text, base, reference) || reference.u16(0) != reference.u16(2) ||
      reference.u16(1) != reference.u16(3) ||
      (reference.kind == ValueKind::SheetAreaRef && reference.firstSheet != active.index)) {
    dialog.showError(static_cast<uint32_t>(Err::ReferenceExpected));
    return false;
  }
  const std::u16string shown = options.title.empty() ? std::u16string(u"Chart") : options.title;
  const std::u16string stored = makeCellTaskText(shown, chartCallText(options), ChartIcon);
  clearError();
  if (!enterCellValue(book, undo, reference.u16(1), reference.u16(0), stored) && pendingError() != 0) {
    dialog.showError(pendingError());
    clearError();
    return false;
  }
  return true;
}

Desktop* g_taskDesktop = nullptr;
UndoList* g_taskUndo = nullptr;

// 250: Chart(item, ...). The arguments come off the stack last first, each applied as it
// comes, so that of two items on one field the leftmost wins.
void fnChart() {
  ChartOptions& options = chartOptions();
  options.resetKeepingRange();
  for (int n = argCount(); n > 0; --n) (void)applyChartItem(options, popTextCopy());
  Workbook* book = evalState().workbook;
  if (pendingError() == 0 && g_taskDesktop && g_taskUndo && book) (void)showChartWindow(*g_taskDesktop, *book, *g_taskUndo);
  pushValue(emptyValue());
}

}  // namespace

void installChartTaskFunction(Desktop* desktop, UndoList* undo) {
  g_taskDesktop = desktop;
  g_taskUndo = undo;
  static constexpr FunctionBinding bindings[] = {{250, fnChart}};
  bindFunctions(bindings);
}

bool runChartOptionsDialog(Desktop& desktop, Workbook& book, UndoList& undo, ChartOptions& options) {
  Form form;
  form.help = u"chart_options";
  form.title = u"Chart Options";
  form.fields = {
      textField(TitleField, u"Chart title:", MaxChartTitle),
      textField(XTitleField, u"X axis title:", MaxChartTitle),
      textField(YTitleField, u"Y axis title:", MaxChartTitle),
      choiceField(SeriesIn, u"Series in:", {u"Rows", u"Columns"}),
      checkField(LegendCheck, u"Show Legend"),
      checkField(AutoScaleCheck, u"Auto Scale"),
      checkField(XAxisCheck, u"Show X axis"),
      checkField(YAxisCheck, u"Show Y axis"),
      checkField(XGridCheck, u"X axis gridlines"),
      checkField(YGridCheck, u"Y axis gridlines"),
      textField(SaveCell, u"Save chart to cell:"),
  };
  form.accept = [&](FormDialog& dialog, const FormValues& v) {
    ChartOptions chosen = options;
    chosen.title = v.text.at(TitleField);
    chosen.xTitle = v.text.at(XTitleField);
    chosen.yTitle = v.text.at(YTitleField);
    chosen.seriesInRows = v.choice.at(SeriesIn) == 0;
    chosen.legend = v.check.at(LegendCheck);
    chosen.fixedScale = !v.check.at(AutoScaleCheck);
    chosen.xAxis = v.check.at(XAxisCheck);
    chosen.yAxis = v.check.at(YAxisCheck);
    chosen.xGrid = v.check.at(XGridCheck);
    chosen.yGrid = v.check.at(YGridCheck);
    const std::u16string& cell = v.text.at(SaveCell);
    if (!cell.empty() && !saveChartToCell(dialog, book, undo, chosen, cell)) return false;
    options = chosen;
    return true;
  };
  FormValues values;
  values.text = {{TitleField, options.title}, {XTitleField, options.xTitle}, {YTitleField, options.yTitle},
                 {SaveCell, u""}};
  values.choice = {{SeriesIn, options.seriesInRows ? 0 : 1}};
  values.check = {{LegendCheck, options.legend}, {AutoScaleCheck, !options.fixedScale},
                  {XAxisCheck, options.xAxis},   {YAxisCheck, options.yAxis},
                  {XGridCheck, options.xGrid},   {YGridCheck, options.yGrid}};
  return runForm(desktop, form, values);
}

bool showChartWindow(Desktop& desktop, Workbook& book, UndoList& undo) {
  const Sheet& sheet = *book.activeSheet();
  if (!chooseChartRange(chartOptions(), sheet.index, sheet.selection.area())) return false;
  (void)showFullScreen<ChartWindow>(desktop, book, undo);
  return true;
}

bool runChartCommand(Desktop& desktop, WindowId owner, Workbook& book, UndoList& undo) {
  (void)owner;
  const Sheet& sheet = *book.activeSheet();
  if (!chooseChartRange(chartOptions(), sheet.index, sheet.selection.area())) return false;
  if (!showFullScreen<ChartDialog>(desktop, book, undo)) return false;
  (void)showFullScreen<ChartWindow>(desktop, book, undo);
  return true;
}

}  // namespace kelp
