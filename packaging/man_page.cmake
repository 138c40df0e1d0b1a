# cmake -DHELP2MAN=... -DPROGRAM=... -DSUMMARY=... -DOUTPUT=... -P man_page.cmake
# Writes the man page of PROGRAM from its --help and --version. A program
# whose help lists Commands gets a COMMANDS section with each command's
# --help.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${rc})")
endif()

set(include)
string(REGEX MATCH "\nCommands:\n([^\n]+\n)+" listing "${help}")
if(listing)
  string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${listing}")
  set(section "[COMMANDS]\n")
  foreach(name ${names})
    string(STRIP "${name}" name)
    execute_process(COMMAND ${PROGRAM} ${name} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR text STREQUAL help)
      continue()  # "help" prints the program's own
    endif()
    # Preformatted roff: backslashes escaped, no line read as a request.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    string(APPEND section ".SS ${name}\n.nf\n${text}.fi\n")
  endforeach()
  file(WRITE ${OUTPUT}.include "${section}")
  set(include --include=${OUTPUT}.include)
endif()

execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --name=${SUMMARY} --section=1
          ${include} --output=${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM} (${rc})")
endif()
