# Runs PROGRAM with the arguments in ARGS (a ;-list) and checks that it exits
# with STATUS and that its output (or error output) matches the regular
# expression EXPECT.
# With UNSET_HOME the program runs without HOME.
set(command ${PROGRAM} ${ARGS})
if(UNSET_HOME)
  set(command ${CMAKE_COMMAND} -E env --unset=HOME ${command})
endif()
execute_process(COMMAND ${command} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}\n${out}${err}")
endif()
if(NOT "${out}${err}" MATCHES "${EXPECT}")
  message(FATAL_ERROR "output does not match ${EXPECT}:\n${out}${err}")
endif()
