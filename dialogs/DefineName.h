// The Define Name dialog: the workbook's names, and a name's text and what it refers to.
#pragma once

#include <string>
#include <string_view>

namespace kelp {

class Desktop;
class Workbook;

/// Shows Define Name over the workbook; Add (and Done with a changed name) defines the
/// name, Delete leaves it undefined so that formulas using it show #NAME?. True when a
/// name changed.
bool runDefineNameDialog(Desktop& desktop, Workbook& workbook);

/// Whether `text` can name a definition: one name that formulas read as a name, neither
/// a reference, a function, a keyword, a sheet nor a task variable. False sets error 49.
bool usableName(Workbook& workbook, std::u16string_view text);

/// Defines `text` as the formula `refersTo` (an "=" is added in front when missing), on
/// the active sheet's terms; false with the error state set when either is refused.
bool defineName(Workbook& workbook, std::u16string_view text, std::u16string_view refersTo);

/// The names a user can pick: those with a definition, in the workbook's order.
bool isDefined(const Workbook& workbook, size_t index);

}  // namespace kelp
