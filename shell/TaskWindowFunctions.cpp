// The window's task functions. Each pops its arguments, asks or shows through the
// application's desktop and pushes one result; a cancelled box gives an empty text, 0 or
// false. Nothing a task asks for leaves the workbook without the user's Yes for that call.
#include "shell/TaskWindowFunctions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dialogs/FileBrowser.h"
#include "dialogs/FindReplace.h"
#include "dialogs/Form.h"
#include "edit/Validation.h"
#include "format/ValueText.h"
#include "formula/Catalogue.h"
#include "formula/Evaluator.h"
#include "model/Workbook.h"
#include "platform/File.h"
#include "platform/Folders.h"
#include "platform/ErrorState.h"
#include "platform/Locale.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/FrameBuffer.h"
#include "platform/ui/HeadlessBackend.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/SdlBackend.h"
#include "shell/Application.h"

namespace kelp {

namespace {

Application* g_app = nullptr;
TaskLauncher g_launcher;

constexpr std::u16string_view Caption = u"Kelp";
constexpr int AnswerField = 1, ListField = 2;
constexpr int ListRows = 8;

WindowId owner() {
  Window* main = g_app ? g_app->mainWindow() : nullptr;
  return main ? main->id() : NoWindow;
}

// Without the window the call is left unanswered, as a missing value.
bool noWindow(int arguments) {
  if (g_app) return false;
  discard(arguments);
  pushError(CellError::NA);
  return true;
}

std::u16string popShownText() {
  CellValue value = emptyValue();
  popResolved(value);
  std::u16string text;
  valueToText(value, text);
  releaseValue(value);
  return text;
}

// A list of texts under a title; the index chosen, or -1 when cancelled.
int chooseFromList(std::u16string title, std::vector<std::u16string> items) {
  Form form;
  form.title = std::u16string(Caption);
  form.fields = {choiceField(ListField, std::move(title), std::move(items), ListRows)};
  FormValues values;
  values.choice[ListField] = 0;
  if (!runForm(g_app->desktop(), form, values)) return -1;
  return values.choice[ListField];
}

// 253: MsgBox(text).
void fnMsgBox() {
  if (noWindow(argCount())) return;
  const std::u16string text = popShownText();
  messageBox(g_app->desktop(), owner(), text, Caption, BoxFlag::Ok | BoxFlag::IconInformation);
  pushValue(emptyValue());
}

// 254: YesNoBox(text).
void fnYesNoBox() {
  if (noWindow(argCount())) return;
  const std::u16string text = popShownText();
  pushLogical(messageBox(g_app->desktop(), owner(), text, Caption, BoxFlag::YesNo | BoxFlag::IconQuestion) ==
              DialogResult::Yes);
}

// 274: InputBox(prompt).
void fnInputBox() {
  if (noWindow(argCount())) return;
  const std::u16string prompt = popShownText();
  Form form;
  form.title = std::u16string(Caption);
  form.fields = {noteField(prompt), textField(AnswerField, u"")};
  FormValues values;
  values.text[AnswerField] = u"";
  pushText(runForm(g_app->desktop(), form, values) ? values.text[AnswerField] : u"");
}

// 275: ListBox(title, range[, retValue]): the cells of the range row by row; the index
// chosen counts from 1 (0 when cancelled), or with retValue the cell's value.
void fnListBox() {
  if (noWindow(argCount())) return;
  const bool wantValue = argCount() == 3 && popLogical() != 0;
  SheetArea area{};
  const bool good = popArea(area);
  const std::u16string title = popShownText();
  Workbook& book = g_app->workbook();
  if (!takePendingError()) return;  // the error is the result
  if (!good || area.book != 0 || !book.sheetAt(area.firstSheet)) return pushError(CellError::Ref);
  const Sheet& sheet = *book.sheetAt(area.firstSheet);
  std::vector<std::u16string> items;
  std::vector<std::pair<int32_t, int32_t>> cells;
  for (int32_t r = area.firstRow; r <= area.lastRow; ++r) {
    for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) {
      items.push_back(cellShownText(book, sheet, c, r));
      cells.emplace_back(c, r);
      if (items.size() >= 4096) break;  // a whole column is no list to choose from
    }
    if (items.size() >= 4096) break;
  }
  const int chosen = chooseFromList(title, items);
  if (!wantValue) return pushNumber(chosen + 1);
  if (chosen < 0) return pushText(u"");
  CellValue value = emptyValue();
  copyValue(effectiveValue(sheet.cellValue(cells[chosen].first, cells[chosen].second)), value);
  pushValue(value);
}

// 286: ListBox2(title, item1, item2, ...): the text chosen, empty when cancelled.
void fnListBox2() {
  if (noWindow(argCount())) return;
  const int count = argCount();
  std::vector<std::u16string> items(static_cast<size_t>(std::max(count - 1, 0)));
  for (size_t i = items.size(); i > 0; --i) items[i - 1] = popShownText();
  const std::u16string title = count > 0 ? popShownText() : u"";
  const int chosen = chooseFromList(title, items);
  pushText(chosen >= 0 && static_cast<size_t>(chosen) < items.size() ? items[static_cast<size_t>(chosen)] : u"");
}

// 284: FileBox(title[, filter]): a file chosen in the Open File dialog, or empty. The
// dialog keeps its own title; a filter such as "*.txt" chooses the entry offering it.
void fnFileBox() {
  if (noWindow(argCount())) return;
  std::u16string filterText = argCount() == 2 ? popShownText() : u"";
  (void)popShownText();
  int filter = g_app->openFilter;
  if (!filterText.empty()) {
    const std::vector<FileFilter> filters = openFilters();
    for (size_t i = 0; i < filters.size(); ++i)
      if (std::find(filters[i].patterns.begin(), filters[i].patterns.end(), filterText) != filters[i].patterns.end())
        filter = static_cast<int>(i);
  }
  std::u16string folder = g_app->document().saveFolder;
  if (!isFolder(utf16ToUtf8(folder))) folder = userDocumentsFolder();
  std::u16string path;
  pushText(runOpenFileDialog(g_app->desktop(), folder, filter, path) ? path : u"");
}

// 297: ComboBox(list): a list rule with its drop-down on the active cell; the list is a
// delimited text or the cells of a range.
void fnComboBox() {
  if (noWindow(argCount())) return;
  std::vector<std::u16string> items;
  if (topKind() == ValueKind::Text) {
    items = splitDelimitedList(popTextCopy());
  } else {
    SheetArea area{};
    Workbook& book = g_app->workbook();
    if (!popArea(area) || area.book != 0 || !book.sheetAt(area.firstSheet)) return pushError(CellError::Ref);
    const Sheet& sheet = *book.sheetAt(area.firstSheet);
    for (int32_t r = area.firstRow; r <= area.lastRow && items.size() < 4096; ++r) {
      for (int32_t c = area.firstColumn; c <= area.lastColumn; ++c) {
        std::u16string text = cellShownText(book, sheet, c, r);
        if (!text.empty()) items.push_back(std::move(text));
      }
    }
  }
  if (!takePendingError()) return;
  if (items.empty()) return pushError(CellError::Value);
  Workbook& book = g_app->workbook();
  Sheet& sheet = *book.activeSheet();
  ValidationRule rule;
  rule.flags = static_cast<uint32_t>(ValidationType::List) | ValidationFlag::ExplicitList | ValidationFlag::IgnoreBlank |
               ValidationFlag::ErrorAlert;
  rule.list = std::move(items);
  // The rule is for the active cell alone, whatever else is selected.
  const Selection kept = sheet.selection;
  sheet.selection = Selection::ofStored(Area{kept.activeRow, static_cast<uint16_t>(kept.activeColumn), kept.activeRow,
                                             static_cast<uint16_t>(kept.activeColumn)},
                                        kept.activeColumn, kept.activeRow);
  const bool good = setValidationCommand(book, g_app->undoList(), rule);
  sheet.selection = kept;
  if (!good) return pushError(CellError::Value);
  pushValue(emptyValue());
}

// 263: FindDialog([text]).
void fnFindDialog() {
  if (noWindow(argCount())) return;
  discard(argCount());
  runFindDialog(g_app->desktop(), owner(), g_app->workbook(), [] { g_app->grid().markRepaint(Repaint::Everything); });
  pushValue(emptyValue());
}

constexpr uint32_t PictureTimer = 1;
constexpr std::u16string_view PictureError = u"Kelp cannot show the picture %s.";

// A picture in a window of its own, as large as fits and never enlarged, on black; any
// key, or the time given, closes it.
class PictureWindow : public Window {
 public:
  explicit PictureWindow(FrameBuffer image) : m_image(std::move(image)) {}

 protected:
  int64_t onMessage(Message& m) override {
    switch (m.msg) {
      case Msg::Paint: paint(*m.canvas); return 0;
      case Msg::Timer:
        if (m.wParam == PictureTimer) desktop().endModal(*this, DialogResult::Ok);
        return 0;
      case Msg::KeyDown: desktop().endModal(*this, DialogResult::Ok); return 0;
      default: return defaultHandling(m);
    }
  }

 private:
  void paint(Canvas& c) {
    const Rect r = clientRect();
    c.fillRect(r, Colors::Black);
    if (m_image.width <= 0 || m_image.height <= 0) return;
    const double scale = std::min({1.0, double(r.width()) / m_image.width, double(r.height()) / m_image.height});
    const int w = std::max(1, static_cast<int>(m_image.width * scale));
    const int h = std::max(1, static_cast<int>(m_image.height * scale));
    const int left = (r.width() - w) / 2, top = (r.height() - h) / 2;
    for (int y = 0; y < h; ++y) {
      const int sy = std::min(m_image.height - 1, static_cast<int>(y / scale));
      for (int x = 0; x < w;) {
        const Color color = m_image.pixel(std::min(m_image.width - 1, static_cast<int>(x / scale)), sy);
        int run = x + 1;  // a run of one colour is one rectangle
        while (run < w && m_image.pixel(std::min(m_image.width - 1, static_cast<int>(run / scale)), sy) == color) ++run;
        c.fillRect({left + x, top + y, left + run, top + y + 1}, color);
        x = run;
      }
    }
  }

  FrameBuffer m_image;
};

// 283: ShowPicture(file[, seconds]): PNG, JPEG, GIF or BMP; waits until the window closes.
void fnShowPicture() {
  if (noWindow(argCount())) return;
  const double seconds = argCount() == 2 ? popNumber() : 0;
  const std::u16string path = popShownText();
  if (!takePendingError()) return;
  FrameBuffer image;
  Desktop& desktop = g_app->desktop();
  if (!readPicture(utf16ToUtf8(path), image)) {
    clearError();  // the message says it; the task goes on
    messageBox(desktop, owner(), formatText(PictureError, path), Caption, BoxFlag::Ok | BoxFlag::IconExclamation);
    return pushValue(emptyValue());
  }
  auto& window = desktop.create<PictureWindow>(nullptr, desktop.workArea(), std::move(image));
  window.setText(path);
  if (seconds > 0 && std::isfinite(seconds))
    desktop.setTimer(window.id(), PictureTimer, static_cast<uint32_t>(std::min(seconds, 86400.0) * 1000));
  (void)desktop.runModal(window);
  desktop.destroy(window.id());
  pushValue(emptyValue());
}

// Whether the window is a real display: headless sessions start and sound nothing.
bool headless() {
  Backend* backend = g_app->desktop().backend();
  return !backend || dynamic_cast<HeadlessBackend*>(backend);
}

// A sound that was not played, and why, for whoever reads standard error.
void noteSilence(const std::string& what) { std::fprintf(stderr, "kelp: a task's sound not played: %s\n", what.c_str()); }

// 282: PlaySound([file]): plays a wave file while the task goes on; without one, stops.
void fnPlaySound() {
  if (noWindow(argCount())) return;
  const std::u16string path = argCount() == 1 ? popShownText() : u"";
  if (!takePendingError()) return;
  pushValue(emptyValue());
  if (path.empty()) return stopSound();
  const std::string file = utf16ToUtf8(path);
  if (headless()) return noteSilence(file + " (no audio in a headless session)");
  if (!playWaveFile(file)) noteSilence(file + " (no audio device, or not a wave file)");
}

// 296: Beep([type]): a short tone, higher for the types of warnings and errors.
void fnBeep() {
  if (noWindow(argCount())) return;
  const double type = argCount() == 1 ? popNumber() : 0;
  if (!takePendingError()) return;
  pushValue(emptyValue());
  if (headless()) return noteSilence("beep (no audio in a headless session)");
  if (!playSystemSound(std::isfinite(type) ? static_cast<int>(type) : 0)) noteSilence("beep (no audio device)");
}

// Asks, then starts `words` through the launcher, the system or, headless, nobody.
bool startWithConsent(const std::vector<std::u16string>& words, bool browser) {
  if (words.empty() || words[0].empty()) return false;
  const int answer = messageBox(g_app->desktop(), owner(), startQuestion(words, browser), Caption,
                                BoxFlag::YesNo | BoxFlag::IconExclamation | BoxFlag::DefaultSecond);
  if (answer != DialogResult::Yes) return false;
  if (g_launcher) return g_launcher(words);
  if (headless()) {
    std::string line = "kelp: a task would start:";
    for (const std::u16string& word : words) line += " " + utf16ToUtf8(word);
    std::fprintf(stderr, "%s\n", line.c_str());
    return false;
  }
  return startProgramWords(words);
}

// 285: RunApp(application[, parameters]).
void fnRunApp() {
  if (noWindow(argCount())) return;
  const std::u16string parameters = argCount() == 2 ? popShownText() : u"";
  const std::u16string program = popShownText();
  if (!takePendingError()) return;
  std::vector<std::u16string> words{program};
  for (const std::string& word : splitArguments(utf16ToUtf8(parameters))) words.push_back(utf8ToUtf16(word));
  pushLogical(startWithConsent(words, false));
}

// 291: IBrowser([page]): xdg-open hands the address to the browser, a "mailto:" one to mail.
void fnIBrowser() {
  if (noWindow(argCount())) return;
  const std::u16string page = argCount() == 1 ? popShownText() : u"";
  if (!takePendingError()) return;
  if (page.empty()) return pushLogical(0);
  pushLogical(startWithConsent({u"xdg-open", page}, true));
}

}  // namespace

std::u16string startQuestion(const std::vector<std::u16string>& words, bool browser) {
  if (browser) return u"This workbook wants to open " + (words.size() > 1 ? words[1] : u"") + u" in your browser. Allow?";
  std::u16string all;
  for (const std::u16string& word : words) all += (all.empty() ? u"" : u" ") + word;
  return u"This workbook wants to start " + all + u". Allow?";
}

void installTaskLauncher(TaskLauncher launcher) { g_launcher = std::move(launcher); }

void installWindowTaskFunctions(Application* app) {
  g_app = app;
  static constexpr FunctionBinding bindings[] = {
      {253, fnMsgBox},    {254, fnYesNoBox},   {274, fnInputBox}, {275, fnListBox},  {286, fnListBox2},
      {284, fnFileBox},   {297, fnComboBox},   {263, fnFindDialog}, {285, fnRunApp}, {291, fnIBrowser},
      {283, fnShowPicture}, {282, fnPlaySound}, {296, fnBeep},
  };
  bindFunctions(bindings);
}

}  // namespace kelp
