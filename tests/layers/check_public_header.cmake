# Fails when the public header does not compile in a translation unit of its own, or when it
# reaches a platform header other than the basic types.
# Usage: cmake -DCXX=<compiler> -DROOT=<tree> -DHEADER=<header under ROOT> -P check_public_header.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(
  COMMAND ${CXX} -std=c++20 -fsyntax-only -H -I${ROOT} -x c++ ${ROOT}/${HEADER}
  RESULT_VARIABLE result
  ERROR_VARIABLE listing
  TIMEOUT 120)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${HEADER} does not compile on its own:\n${listing}")
endif()
# -H lists every header the translation unit reaches, one a line, after dots for its depth.
string(REPLACE "\n" ";" lines "${listing}")
set(faults 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\.+ (.*)$")
    set(header "${CMAKE_MATCH_1}")
    if(header MATCHES "(^|/)platform/" AND NOT header MATCHES "(^|/)platform/win32/win32_types\\.h$")
      message("${HEADER} reaches ${header}")
      math(EXPR faults "${faults} + 1")
    endif()
  endif()
endforeach()
if(faults GREATER 0)
  message(FATAL_ERROR "${faults} platform header(s) reached beyond the basic types")
endif()
