// Starting the formula engine: binds the worksheet functions to the catalogue and
// installs the hooks through which the model shows numbers and formulas and reads
// typed entries.
#pragma once

namespace kelp {

/// Binds every worksheet function family and installs every hook of the engine; call
/// once at start, before the first workbook. Calling it again changes nothing.
void startEngine();

}  // namespace kelp
