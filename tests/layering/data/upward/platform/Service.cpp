// A made-up system service that draws.
#include "platform/ui/Canvas.h"
