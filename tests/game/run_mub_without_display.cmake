# Runs mub where no window can be made: with no display named, with a display named that no X
# server serves, and with SDL held to its X11 driver and no display. SDL must not fall back to a
# driver without a display (where mub would run unseen until killed): mub must say that there is
# no display on standard error and fail at once, cleanly.
set(display 97)
while(EXISTS /tmp/.X11-unix/X${display} OR EXISTS /tmp/.X${display}-lock)
  math(EXPR display "${display} + 1")
endwhile()
set(cases
    "nothing named|--unset=DISPLAY|--unset=WAYLAND_DISPLAY|--unset=SDL_VIDEODRIVER"
    "a display without a server|DISPLAY=:${display}|--unset=WAYLAND_DISPLAY|--unset=SDL_VIDEODRIVER"
    "the X11 driver named|--unset=DISPLAY|--unset=WAYLAND_DISPLAY|SDL_VIDEODRIVER=x11")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" environment "${case}")
  list(POP_FRONT environment name)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment} ${MUB}
                  WORKING_DIRECTORY ${FOLDER} RESULT_VARIABLE status ERROR_VARIABLE errors
                  TIMEOUT 60)
  if(status EQUAL 0 OR NOT status MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${name}: mub exited with '${status}', not a failure; standard error:\n${errors}")
  endif()
  # A sanitizer's report also ends with status 1: the failed start must end cleanly.
  string(FIND "${errors}" "Sanitizer" report)
  if(NOT report EQUAL -1)
    message(FATAL_ERROR "${name}: mub did not end cleanly after its failed start:\n${errors}")
  endif()
  foreach(expected "platform: no display: " "mub: 起動できませんでした: ディスプレイがありません")
    string(FIND "${errors}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${name}: '${expected}' is not on standard error:\n${errors}")
    endif()
  endforeach()
  message(STATUS "${name}: status ${status}")
endforeach()
