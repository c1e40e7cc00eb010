// A made-up model header that reaches up into the shell.
#include "shell/Application.h"
#include "platform/Text.h"
