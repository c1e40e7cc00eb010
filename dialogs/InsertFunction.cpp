// The Insert Function dialog.
#include "dialogs/InsertFunction.h"

#include <algorithm>
#include <vector>

#include "dialogs/Form.h"
#include "formula/Catalogue.h"
#include "functions/RecentFunctions.h"
#include "platform/StringTable.h"
#include "platform/Text.h"

namespace kelp {

namespace {

constexpr int CategoryList = 1051, FunctionList = 1056, Description = 1110;
constexpr int FirstCategoryString = 4040, TaskString = 4050;
constexpr int TaskCategory = 10;

bool offered(int32_t index, bool forTask) {
  const FunctionRow& row = functionRow(index);
  if (!row.name || !row.implementation) return false;
  if (index >= FunctionIndex::FirstInternal && index < FunctionIndex::FirstTaskOnly) return false;
  return forTask || !isCommandOrTaskRow(index);
}

std::u16string describe(int32_t index) {
  if (index < 0) return u"";
  const FunctionRow& row = functionRow(index);
  std::u16string out = std::u16string(row.name) + u"(";
  if (row.hintId) out += loadString(row.hintId);
  out += u")";
  if (row.descriptionId) out += u"\n" + std::u16string(loadString(row.descriptionId));
  return out;
}

}  // namespace

std::u16string_view functionHelpTopic(int category, bool forTask) {
  static constexpr std::u16string_view Topics[] = {u"fn_math_trig", u"fn_statistical", u"fn_financial", u"fn_date",
                                                   u"fn_logical",   u"fn_text",        u"fn_information", u"fn_database"};
  if (category == 1 && forTask) return u"fn_tasks";
  if (category >= 2 && category <= 9) return Topics[category - 2];
  return u"functions";
}

std::vector<int32_t> functionsOf(int category, const RecentFunctions& recent, bool forTask) {
  std::vector<int32_t> out;
  if (category == 1 && !forTask) {
    for (int32_t i = 0; i < RecentFunctions::Size; ++i)
      if (recent.at(i) != RecentFunctions::Empty && offered(recent.at(i), false)) out.push_back(recent.at(i));
    return out;
  }
  const int wanted = category == 1 ? TaskCategory : category;
  for (int32_t i = 0; i < FunctionIndex::Count; ++i)
    if (offered(i, forTask) && (wanted == 0 || functionRow(i).category == wanted)) out.push_back(i);
  std::sort(out.begin(), out.end(), [](int32_t a, int32_t b) {
    return compareIgnoreCase(functionRow(a).name, functionRow(b).name) < 0;
  });
  return out;
}

bool askFunction(Desktop& desktop, RecentFunctions& recent, bool forTask, int32_t& chosen) {
  std::vector<std::u16string> categories;
  for (int i = 0; i < 10; ++i)
    categories.emplace_back(loadString(i == 1 && forTask ? TaskString : FirstCategoryString + i));
  int shownCategory = 1;
  std::vector<int32_t> shown = functionsOf(shownCategory, recent, forTask);
  auto names = [](const std::vector<int32_t>& list) {
    std::vector<std::u16string> out;
    for (int32_t i : list) out.emplace_back(functionRow(i).name);
    return out;
  };
  Form form{u"Insert Function",
            {choiceField(CategoryList, u"Category:", categories), choiceField(FunctionList, u"Function:", names(shown), 6),
             noteField(Description, u"", 4)},
            nullptr,
            [&](FormDialog& dialog, const FormValues& values) {
              const int category = values.choice.at(CategoryList);
              dialog.setHelpTopic(functionHelpTopic(category, forTask));
              if (category != shownCategory) {
                shownCategory = category;
                shown = functionsOf(category, recent, forTask);
                if (auto* list = dialog.controlAs<ListBox>(FunctionList)) {
                  list->setItems(names(shown));
                  list->select(0);
                }
              }
              auto* list = dialog.controlAs<ListBox>(FunctionList);
              const int at = list ? list->selected() : -1;
              dialog.setNote(Description, at >= 0 && at < static_cast<int>(shown.size())
                                              ? describe(shown[static_cast<size_t>(at)])
                                              : std::u16string());
            }};
  FormValues values;
  values.choice[CategoryList] = shownCategory;
  values.choice[FunctionList] = 0;
  if (!runForm(desktop, form, values)) return false;
  const int at = values.choice[FunctionList];
  if (at < 0 || at >= static_cast<int>(shown.size())) return false;
  chosen = shown[static_cast<size_t>(at)];
  recent.use(chosen);
  return true;
}

std::u16string functionInsertion(int32_t function, bool atStart, size_t& caret) {
  const FunctionRow& row = functionRow(function);
  std::u16string out = atStart ? u"=" : u"";
  out += row.name;
  out += u"(";
  // A function without arguments is complete; others wait for theirs.
  caret = row.maxArgs > 0 ? out.size() : out.size() + 1;
  out += u")";
  return out;
}

}  // namespace kelp
