#pragma once

#include "platform/win32/win32_types.h"

void Pause(DWORD milliseconds);
