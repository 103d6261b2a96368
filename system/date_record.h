// A local date and time, as the clocks and the file finder report it.
#pragma once

#include <cstdint>

struct DateRecord {
  std::int32_t year;
  std::int32_t month;
  std::int32_t day;
  std::int32_t hour;
  std::int32_t minute;
  std::int32_t second;
};
