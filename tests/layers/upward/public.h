// A public header that reaches a platform header beyond the basic types.
#pragma once

#include "platform/win32/kernel_calls.h"
