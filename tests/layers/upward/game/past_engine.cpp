// A game file that reaches past engine.h.
#include "engine.h"
#include "system/log.h"
