// Entry points of system topics still being written: each does the least until its topic is built.
#include "files/file_table.h"
#include "platform/win32/kernel.h"
#include "system/system.h"

int FillLocalDateRecord(DateRecord* record) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  *record = DateRecord{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  return 0;
}
