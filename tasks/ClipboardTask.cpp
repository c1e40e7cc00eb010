// The task functions Copy and Paste: the selection through the clipboard.
#include "tasks/ClipboardTask.h"

#include "edit/Clipboard.h"
#include "edit/Commands.h"
#include "formula/Evaluator.h"
#include "model/Workbook.h"

namespace kelp {

void taskCopy() {
  if (!copySelection(*evalState().workbook, false)) return pushError(CellError::Value);
  pushValue(emptyValue());
}

void taskPaste(UndoList* undo) {
  bool* switches[5];
  PasteOptions options;
  switches[0] = &options.contents;
  switches[1] = &options.formats;
  switches[2] = &options.validation;
  switches[3] = &options.skipBlanks;
  switches[4] = &options.onlyResults;
  // The last argument is popped first.
  for (int i = argCount(); i-- > 0;) *switches[i] = popLogical() != 0;
  if (!takePendingError()) return;
  UndoList scratch;
  if (!pasteSelection(*evalState().workbook, undo ? *undo : scratch, options)) return pushError(CellError::Value);
  pushValue(emptyValue());
}

}  // namespace kelp
