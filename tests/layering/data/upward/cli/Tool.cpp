// The command line may use the engine but not the window.
#include "edit/Commands.h"
#include "platform/ui/Window.h"
