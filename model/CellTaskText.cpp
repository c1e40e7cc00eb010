// Splitting and building the stored form of cell tasks.
#include "model/CellTaskText.h"

namespace kelp {

CellTaskParts splitCellTaskText(std::u16string_view stored) {
  CellTaskParts parts;
  parts.display = stored;
  size_t task = stored.find(TaskMarker);
  if (task == std::u16string_view::npos) return parts;
  parts.hasTask = true;
  parts.definition = stored.substr(task + TaskMarker.size());
  size_t icon = stored.substr(0, task).find(IconMarker);
  if (icon == std::u16string_view::npos) {
    parts.display = stored.substr(0, task);
    return parts;
  }
  parts.display = stored.substr(0, icon);
  size_t digit = icon + IconMarker.size();
  if (digit < task && stored[digit] >= u'0' && stored[digit] <= u'9') parts.icon = stored[digit] - u'0';
  return parts;
}

std::u16string makeCellTaskText(std::u16string_view text, std::u16string_view definition, int32_t icon) {
  std::u16string out(text);
  if (icon >= 1 && icon <= 98) {
    out += IconMarker;
    if (icon >= 10) out += static_cast<char16_t>(u'0' + icon / 10);
    out += static_cast<char16_t>(u'0' + icon % 10);
  }
  out += TaskMarker;
  out += definition;
  return out;
}

}  // namespace kelp
