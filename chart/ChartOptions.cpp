// The chart options record, its items and its text form.
#include "chart/ChartOptions.h"

#include <array>

#include "platform/ErrorState.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr std::array<std::u16string_view, ChartTypeCount> kTypeNames = {
    u"Bar", u"Line", u"LineMarkers", u"Pie", u"XY", u"XYLines", u"XYLinesMarkers"};

// Items longer than these are ignored whole, whatever they say.
constexpr size_t TypeItemLimit = 50;
constexpr size_t TitleItemLimit = 65;

enum class FlagValue { None, Yes, No, Other };

// The keyword before the first colon and what follows it.
struct SplitItem {
  std::u16string_view keyword;
  std::u16string_view value;
  bool hasValue = false;
};

SplitItem split(std::u16string_view item) {
  size_t colon = item.find(u':');
  if (colon == std::u16string_view::npos) return {item, {}, false};
  return {item.substr(0, colon), item.substr(colon + 1), true};
}

FlagValue flagValue(const SplitItem& item) {
  if (!item.hasValue) return FlagValue::None;
  if (equalsIgnoreCase(item.value, u"YES")) return FlagValue::Yes;
  if (equalsIgnoreCase(item.value, u"NO")) return FlagValue::No;
  return FlagValue::Other;
}

bool* flagField(ChartOptions& options, std::u16string_view keyword) {
  if (equalsIgnoreCase(keyword, u"LEGEND")) return &options.legend;
  if (equalsIgnoreCase(keyword, u"XGRID")) return &options.xGrid;
  if (equalsIgnoreCase(keyword, u"YGRID")) return &options.yGrid;
  if (equalsIgnoreCase(keyword, u"XAXIS")) return &options.xAxis;
  if (equalsIgnoreCase(keyword, u"YAXIS")) return &options.yAxis;
  return nullptr;
}

std::u16string* titleField(ChartOptions& options, std::u16string_view keyword) {
  if (equalsIgnoreCase(keyword, u"TITLE")) return &options.title;
  if (equalsIgnoreCase(keyword, u"XTITLE")) return &options.xTitle;
  if (equalsIgnoreCase(keyword, u"YTITLE")) return &options.yTitle;
  return nullptr;
}

// One item of the text form; a quote inside a title is doubled as formula texts write it.
void appendItem(std::u16string& out, std::u16string_view text) {
  if (!out.empty()) out += u',';
  out += u'"';
  for (char16_t c : text) {
    if (c == u'"') out += u'"';
    out += c;
  }
  out += u'"';
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

}  // namespace

std::u16string_view chartTypeName(ChartType type) {
  const auto index = static_cast<size_t>(type);
  return index < kTypeNames.size() ? kTypeNames[index] : kTypeNames[0];
}

bool chartTypeFromName(std::u16string_view name, ChartType& out) {
  for (size_t i = 0; i < kTypeNames.size(); ++i) {
    if (equalsIgnoreCase(name, kTypeNames[i])) {
      out = static_cast<ChartType>(i);
      return true;
    }
  }
  return false;
}

void ChartOptions::resetKeepingRange() {
  ChartRange kept = range;
  *this = ChartOptions{};
  range = kept;
}

bool applyChartItem(ChartOptions& options, std::u16string_view item) {
  if (chartTypeFromName(item, options.type)) return true;
  if (equalsIgnoreCase(item, u"SERIES:ROWS")) {
    options.seriesInRows = true;
    return true;
  }
  if (equalsIgnoreCase(item, u"SERIES:COLUMNS")) {
    options.seriesInRows = false;
    return true;
  }
  const SplitItem parts = split(item);
  const FlagValue flag = flagValue(parts);
  if (bool* field = flagField(options, parts.keyword)) {
    if (flag == FlagValue::Other) return false;
    *field = flag != FlagValue::No;
    return true;
  }
  if (equalsIgnoreCase(parts.keyword, u"AUTOSCALE")) {
    if (flag == FlagValue::Other) return false;
    options.fixedScale = flag == FlagValue::No;
    return true;
  }
  if (equalsIgnoreCase(parts.keyword, u"TYPE") && parts.hasValue) {
    return item.size() < TypeItemLimit && chartTypeFromName(parts.value, options.type);
  }
  if (std::u16string* title = titleField(options, parts.keyword)) {
    // A YES or NO after a title keyword reads as a flag value, so it never becomes a title.
    if (flag != FlagValue::Other && flag != FlagValue::None) return false;
    if (!parts.hasValue || item.size() >= TitleItemLimit || parts.value.size() > MaxChartTitle) return false;
    title->assign(parts.value);
    return true;
  }
  return false;
}

void applyChartItems(ChartOptions& options, std::span<const std::u16string> items) {
  for (size_t i = items.size(); i-- > 0;) (void)applyChartItem(options, items[i]);
}

std::u16string chartItemsText(const ChartOptions& options) {
  const ChartOptions defaults;
  std::u16string out;
  if (!options.title.empty()) appendItem(out, u"Title:" + options.title);
  if (!options.xTitle.empty()) appendItem(out, u"XTitle:" + options.xTitle);
  if (!options.yTitle.empty()) appendItem(out, u"YTitle:" + options.yTitle);
  if (options.type != defaults.type) appendItem(out, chartTypeName(options.type));
  if (options.seriesInRows != defaults.seriesInRows)
    appendItem(out, options.seriesInRows ? u"Series:Rows" : u"Series:Columns");
  const struct {
    bool value;
    bool fallback;
    std::u16string_view name;
  } flags[] = {{options.legend, defaults.legend, u"Legend"}, {options.xAxis, defaults.xAxis, u"Xaxis"},
               {options.yAxis, defaults.yAxis, u"Yaxis"},    {options.xGrid, defaults.xGrid, u"Xgrid"},
               {options.yGrid, defaults.yGrid, u"Ygrid"}};
  for (const auto& flag : flags) {
    if (flag.value != flag.fallback) appendItem(out, flag.value ? std::u16string(flag.name) : std::u16string(flag.name) + u":No");
  }
  if (options.fixedScale) appendItem(out, u"AutoScale:No");
  return out;
}

std::u16string chartCallText(const ChartOptions& options) { return u"Chart(" + chartItemsText(options) + u")"; }

bool parseChartCall(std::u16string_view text, std::vector<std::u16string>& items) {
  items.clear();
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && isBlank(text[i])) ++i;
  };
  skipBlanks();
  if (i < text.size() && text[i] == u'=') ++i;
  skipBlanks();
  if (text.size() - i < 5 || !equalsIgnoreCase(text.substr(i, 5), u"Chart")) return false;
  i += 5;
  skipBlanks();
  if (i >= text.size() || text[i] != u'(') return false;
  ++i;
  skipBlanks();
  if (i < text.size() && text[i] == u')') {
    ++i;
  } else {
    for (;;) {
      if (i >= text.size() || text[i] != u'"') return false;
      std::u16string item;
      for (++i;; ++i) {
        if (i >= text.size()) return false;
        if (text[i] == u'"') {
          if (i + 1 < text.size() && text[i + 1] == u'"') {
            item += u'"';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        item += text[i];
      }
      items.push_back(std::move(item));
      skipBlanks();
      if (i < text.size() && (text[i] == u',' || text[i] == u';')) {
        ++i;
        skipBlanks();
        continue;
      }
      if (i < text.size() && text[i] == u')') {
        ++i;
        break;
      }
      return false;
    }
  }
  skipBlanks();
  return i == text.size();
}

ChartOptions& chartOptions() {
  static ChartOptions options;
  return options;
}

bool chooseChartRange(ChartOptions& options, int32_t sheet, const Area& selection) {
  const int64_t rows = int64_t{selection.lastRow} - selection.firstRow + 1;
  const int64_t columns = int64_t{selection.lastColumn} - selection.firstColumn + 1;
  if (rows * columns > MaxChartCells) {
    setError(Err::SelectionTooLarge);
    return false;
  }
  if (rows * columns == 1) {
    if (options.range.valid() && options.range.sheet == sheet &&
        options.range.area.contains(selection.firstColumn, selection.firstRow))
      return true;
    setError(Err::ChartSelection);
    return false;
  }
  options.range.sheet = sheet;
  options.range.area = selection;
  return true;
}

}  // namespace kelp
