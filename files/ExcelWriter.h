// The Excel 5/95 (BIFF5) and 97 to XP (BIFF8) workbook stream writer, and the compound
// file around it.
#pragma once

#include <cstdint>

namespace kelp {

class DocStream;
class Workbook;

/// Writes the workbook as an Excel workbook stream (BIFF8 when `biff8`, else BIFF5) to
/// `stream`, which must be able to seek back (sheet positions are patched in). False with
/// the error state set when writing fails. What the format cannot hold is left out and
/// named once through leaveNotice.
bool writeExcelWorkbook(Workbook& workbook, DocStream& stream, bool biff8);

/// The whole .xls file: the workbook stream ("Workbook" for BIFF8, "Book" for BIFF5) in a
/// compound file, written to `file`.
bool writeExcelFile(Workbook& workbook, DocStream& file, bool biff8);

}  // namespace kelp
