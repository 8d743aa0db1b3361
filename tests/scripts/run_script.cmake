# Runs one script test; its output must equal the .out file. A script that
# starts with a Zot header runs through the program itself (`zot SCRIPT`), and
# a non-zero exit status adds a last line "[exit N]"; any other script runs
# through the test runner, which prints each top-level value.
file(READ ${SCRIPT} text LIMIT 16)
if(text MATCHES "^Zot[ \t\r\n]*\\[")
  execute_process(COMMAND ${ZOT} ${SCRIPT} OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status
                  WORKING_DIRECTORY ${WORKDIR})
  if(NOT status EQUAL 0)
    string(APPEND actual "[exit ${status}]\n")
  endif()
else()
  execute_process(COMMAND ${RUNNER} ${SCRIPT} OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
endif()
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "output differs for ${SCRIPT}\n--- expected\n${expected}--- actual\n${actual}${errors}")
endif()
