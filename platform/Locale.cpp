// The locale settings in force.
#include "platform/Locale.h"

namespace kelp {

namespace {
LocaleSettings& settingsInForce() {
  static LocaleSettings settings;
  return settings;
}
}  // namespace

const LocaleSettings& currentLocale() { return settingsInForce(); }

void setCurrentLocale(const LocaleSettings& settings) { settingsInForce() = settings; }

}  // namespace kelp
