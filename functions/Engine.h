// Starting the formula engine: installs the hooks through which the model shows
// numbers and formulas and reads typed entries.
#pragma once

namespace kelp {

/// Installs every hook of the engine; call once at start, before the first workbook.
void startEngine();

}  // namespace kelp
