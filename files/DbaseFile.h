// dBase III tables (.dbf, version byte 3, fields C, N, D and L) read into a sheet and
// written from the active sheet's list.
#pragma once

namespace kelp {

class DocStream;
class Workbook;

/// Reads a table into the workbook's first sheet: field names in row 0, live records
/// from row 1 (at most 65535; deleted records are skipped). False with error 13 for a
/// damaged table, 15 when memory runs out.
bool readDbase(Workbook& workbook, DocStream& stream);
/// Writes the active sheet as a list: its first non-empty row names the fields, the row
/// below types them, every row after is a record, and every visible column of those rows
/// is a field. Headings cut short, or made up for a heading that is empty, invalid, taken
/// or under a merged area, leave one notice naming them; number columns that no numeric
/// field can hold exactly are written as text with notice 3 naming the fields.
void writeDbase(Workbook& workbook, DocStream& stream);

/// Registers the reader and writer for DocFileType::Dbase.
void installDbaseFormat();

}  // namespace kelp
