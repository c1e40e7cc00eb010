// Engine start-up: the one place that wires the engine's hooks into the model.
#include "functions/Engine.h"

#include "format/ValueText.h"
#include "formula/EntryReader.h"

namespace kelp {

void startEngine() {
  installNumberDisplay();
  // Entry reading also shows formulas as text and lets freed token strings give
  // back their string literals.
  installEntryReading();
}

}  // namespace kelp
