# Runs one script test: the runner's output must equal the .out file.
execute_process(COMMAND ${RUNNER} ${SCRIPT} OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status)
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "output differs for ${SCRIPT}\n--- expected\n${expected}--- actual\n${actual}${errors}")
endif()
