// Opening and saving workbooks for kelpcli, and typing entries into cells.
#pragma once

#include <string>
#include <string_view>

#include "cli/Cli.h"
#include "files/Document.h"

namespace kelp::cli {

/// Whether the formulas of the files opened may read other files (--links).
void allowLinks(bool allowed);

/// Opens `path` into the document, answering a password prompt with `password`.
/// False with the reason printed on stderr.
bool openBook(Document& document, const std::string& path, const std::string& password);
/// Opens `path` to read it only: the file is not held, so this never keeps a writer
/// out. False with the reason printed on stderr.
bool readBook(Document& document, const std::string& path, const std::string& password);
/// The sheet `sheet` names, by name or by number from 1, the active one when it is
/// empty; -1 with a message on stderr when there is none.
int32_t chosenSheet(const Workbook& book, const std::string& path, const std::string& sheet);
/// Saves the document as `path`, typed by `type` (-1: from the name). False with the
/// reason printed on stderr.
bool saveBook(Document& document, const std::string& path, int type);
/// Keeps the document's workbook until the process ends, when a command is done with it.
void keepUntilExit(Document& document);

/// Types `text` into the cell as a user would. False when the entry was refused, with
/// "error N: MESSAGE" in `error`, and " at P" after it for a formula; an entry the
/// cell's validation rule refuses gives "refused by data validation: TITLE: MESSAGE".
bool typeEntry(Workbook& book, const CellName& cell, std::u16string_view text, std::string& error);

}  // namespace kelp::cli
