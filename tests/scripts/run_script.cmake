# Runs one script test through the program itself (`zot NAME.zot`, from the
# script's folder, so that what it prints of its own path is the same
# wherever the sources are): its output must equal the .out file, and a
# non-zero exit status adds a last line "[exit N]".
get_filename_component(folder ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME)
execute_process(COMMAND ${ZOT} ${name} OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status
                WORKING_DIRECTORY ${folder})
if(NOT status EQUAL 0)
  string(APPEND actual "[exit ${status}]\n")
endif()
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "output differs for ${SCRIPT}\n--- expected\n${expected}--- actual\n${actual}${errors}")
endif()
