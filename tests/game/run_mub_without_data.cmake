# Runs mub in a folder without data/, image/, sound/ or replay/ and checks how it fails: status 1,
# and standard error names the file it could not read, the folder it looked in and how the data
# is made.
execute_process(COMMAND ${MUB} WORKING_DIRECTORY ${FOLDER} RESULT_VARIABLE status ERROR_VARIABLE errors
                TIMEOUT 100)
if(NOT status EQUAL 1)
  message(FATAL_ERROR "mub exited with '${status}', not 1; standard error:\n${errors}")
endif()
# A sanitizer's report also ends with status 1: the failed start must end cleanly.
string(FIND "${errors}" "Sanitizer" report)
if(NOT report EQUAL -1)
  message(FATAL_ERROR "mub did not end cleanly after its failed start:\n${errors}")
endif()
file(REAL_PATH ${FOLDER} folder)
foreach(expected "mub: 読込に失敗しました: image/txt.bmp" "フォルダ: ${folder}\n" "scripts/run" "mubgen")
  string(FIND "${errors}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "'${expected}' is not on standard error:\n${errors}")
  endif()
endforeach()
if(EXISTS ${FOLDER}/data/config.dat)
  message(FATAL_ERROR "a configuration file was created")
endif()
