# Runs mub in a folder without data/, image/, sound/ or replay/ and checks how it fails.
execute_process(COMMAND ${MUB} WORKING_DIRECTORY ${FOLDER} RESULT_VARIABLE status ERROR_VARIABLE errors
                TIMEOUT 100)
if(NOT status EQUAL 1)
  message(FATAL_ERROR "mub exited with '${status}', not 1; standard error:\n${errors}")
endif()
if(NOT errors MATCHES "mub: 読込に失敗しました")
  message(FATAL_ERROR "the load failure was not reported; standard error:\n${errors}")
endif()
if(EXISTS ${FOLDER}/data/config.dat)
  message(FATAL_ERROR "a configuration file was created")
endif()
