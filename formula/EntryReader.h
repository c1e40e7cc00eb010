// Typed text to a value: numbers, percentages, dates and times, logicals, formulas, text.
#pragma once

#include <string_view>

#include "formula/Tokens.h"
#include "formula/TypedForms.h"
#include "model/CellValue.h"

namespace kelp {

class Workbook;

/// What `text` means as a cell entry at `base`. A text starting with "=" is compiled
/// (into `workbook`; not in formula mode, and taken as text without a workbook). When
/// `suggestedFormat` is given it receives the built-in format the entry asks for, one
/// of SuggestedFormat's, or -1. Grouped digits ("1,234"), currency symbols, negatives in
/// parentheses, ISO dates, month names and a day and month alone are read only when the
/// formula syntax reads nothing. In formula mode nothing is allocated and text that is no value gives the empty
/// value; otherwise text comes back as a text value without a leading apostrophe.
CellValue readEntry(Workbook* workbook, std::u16string_view text, CellPosition base, int* suggestedFormat,
                    bool formulaMode);

/// The style a cell of style `effective` takes for an entry that suggested `suggested`
/// (`effective` itself when the cell keeps its format). A grouped format is added to the
/// workbook's formats when it has none.
int16_t styleForSuggestion(Workbook& workbook, int16_t effective, int suggested);

/// Installs through the model's hooks how formulas show as text and how entries are
/// read, and makes freed token strings give back their string literals.
void installEntryReading();

}  // namespace kelp
