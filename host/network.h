// Socket networking as the shutdown, the window procedure and the message pump call it.
#pragma once

#include "platform/win32/user.h"

int ShutdownNetWork();
int PumpNetWorkMessages(int serveAll);
LRESULT HandleSocketMessage(WPARAM wParam, LPARAM lParam);
