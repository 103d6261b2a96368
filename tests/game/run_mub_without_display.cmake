# Runs mub where no window can be made: no X display and SDL held to its X11 driver, so it cannot
# fall back to a driver without a display. It must say so on standard error and fail.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                        SDL_VIDEODRIVER=x11 ${MUB}
                WORKING_DIRECTORY ${FOLDER} RESULT_VARIABLE status ERROR_VARIABLE errors TIMEOUT 100)
if(status EQUAL 0 OR NOT status MATCHES "^[0-9]+$")
  message(FATAL_ERROR "mub exited with '${status}', not a failure; standard error:\n${errors}")
endif()
# A sanitizer's report also ends with status 1: the failed start must end cleanly.
string(FIND "${errors}" "Sanitizer" report)
if(NOT report EQUAL -1)
  message(FATAL_ERROR "mub did not end cleanly after its failed start:\n${errors}")
endif()
foreach(expected "mub: 起動できませんでした" "no display")
  string(FIND "${errors}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "'${expected}' is not on standard error:\n${errors}")
  endif()
endforeach()
