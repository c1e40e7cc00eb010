// Pocket Excel workbooks (.pxl): the reader and writer of the one-byte-type record stream.
#pragma once

#include <cstdint>

namespace kelp {

class DocStream;
class Workbook;

/// No Pocket Excel file comes near this: the workbook stream of Excel, which holds the same
/// records, stops at 2 GiB, and Pocket Excel kept its whole workbook in a Windows CE
/// process of 32 MB. A longer file is refused before it fills memory.
constexpr uint64_t MaxPocketExcelBytes = uint64_t{2} << 30;

/// Reads a Pocket Excel file into `workbook`, which has no sheets yet. False with the
/// error state set on failure: 13 for a file that does not start with BOF, has a record
/// type the format does not know or ends early, 46 for a first-release file, 38 for a
/// password-protected one. Formulas Kelp cannot express keep their cached results and
/// leave notice 35.
bool ReadPocketExcel(Workbook& workbook, DocStream& stream);

/// Writes the workbook as a Pocket Excel file; false with the error state set when the
/// stream fails. What the format cannot hold is left out and named through leaveNotice.
bool WritePocketExcel(Workbook& workbook, DocStream& stream);

/// Makes OpenDocument and SaveDocument read and write .pxl files.
void installPocketExcelFormat();

}  // namespace kelp
