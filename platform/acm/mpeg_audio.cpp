// libmpg123's one start for the process.
#include "platform/acm/mpeg_audio.h"

#include <mpg123.h>

#include <mutex>

void StartMpg123() {
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
}
