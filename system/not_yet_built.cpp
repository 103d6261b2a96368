// Entry points of system topics still being written: each does the least until its topic is built.
#include "files/file_table.h"
#include "platform/win32/kernel.h"
#include "system/input.h"
#include "system/log.h"
#include "system/network.h"
#include "system/system.h"
#include "system/text_input.h"

int InitializeKeyInput() { return 0; }
int ProcessKeyInput() { return 0; }
int DeleteAllKeyInputHandles() { return 0; }
int PushTypedCharacter(int) { return 0; }
int IsTypedCharacterBufferFull() { return 0; }
int LookUpKeyControlCode(int) { return 0; }
LRESULT HandleImeMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }

int ShutdownNetWork() { return 0; }
int PumpNetWorkMessages(int) { return 0; }
LRESULT HandleSocketMessage(WPARAM, LPARAM) { return 0; }
