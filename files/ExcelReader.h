// The Excel 5/95 (BIFF5) and 97 to XP (BIFF8) workbook stream reader.
#pragma once

namespace kelp {

class DocStream;
class Workbook;

/// Reads an Excel workbook stream (BIFF8 when `biff8`, else BIFF5) into `workbook`, which
/// has no sheets yet. False with the error state set on failure. Error 35 alone (some
/// formulas could not be translated and kept their cached values) is a notice: the
/// workbook is complete, the function returns true and leaves 35 for the caller to show.
bool readExcelWorkbook(Workbook& workbook, DocStream& stream, bool biff8);

}  // namespace kelp
