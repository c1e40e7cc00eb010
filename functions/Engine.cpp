// Engine start-up: the one place that wires the worksheet functions and the engine's
// hooks into the layers below.
#include "functions/Engine.h"

#include "format/ValueText.h"
#include "formula/EntryReader.h"
#include "functions/FunctionFamilies.h"

namespace kelp {

void startEngine() {
  for (auto family : {mathBindings(), listBindings(), statisticsBindings(), distributionBindings(),
                      logicalBindings(), infoBindings(), textBindings(), financialBindings(),
                      dateBindings(), lookupBindings(), databaseBindings(), desktopBindings()})
    bindFunctions(family);
  installNumberDisplay();
  // Entry reading also shows formulas as text and lets freed token strings give
  // back their string literals.
  installEntryReading();
}

}  // namespace kelp
