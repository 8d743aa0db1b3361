# Runs the console on a piped session: `zot ARGS` with INPUT as its standard
# input, HOME set to a fresh folder under WORKDIR (so the settings file
# starts from nothing unless SETTINGS names one to put there first), from
# the folder of INPUT. Its output (the home folder shown as "~") must equal
# EXPECTED; a non-zero exit status adds a last line "[exit N]". With SHOW_SETTINGS the settings file written
# is appended to the output after a line "--- settings".
get_filename_component(folder ${INPUT} DIRECTORY)
get_filename_component(name ${INPUT} NAME_WE)
set(home ${WORKDIR}/session-home/${name})
file(REMOVE_RECURSE ${home})
set(cfg ${home}/.zot/Zot-Console/console-cfg.zot)
if(SETTINGS)
  file(MAKE_DIRECTORY ${home}/.zot/Zot-Console)
  file(COPY_FILE ${SETTINGS} ${cfg})
else()
  file(MAKE_DIRECTORY ${home})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env HOME=${home} ${ZOT} ${ARGS}
                INPUT_FILE ${INPUT} OUTPUT_VARIABLE actual ERROR_VARIABLE errors RESULT_VARIABLE status
                WORKING_DIRECTORY ${folder})
# The home folder lies wherever the build is: it is shown as "~".
string(REPLACE "${home}" "~" actual "${actual}")
if(NOT status EQUAL 0)
  string(APPEND actual "[exit ${status}]\n")
endif()
if(SHOW_SETTINGS)
  string(APPEND actual "--- settings\n")
  if(EXISTS ${cfg})
    file(READ ${cfg} saved)
    string(APPEND actual "${saved}")
  endif()
endif()
file(READ ${EXPECTED} expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "output differs for ${INPUT}\n--- expected\n${expected}--- actual\n${actual}${errors}")
endif()
