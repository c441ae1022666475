# Runs morvantis-demo once and checks what it did.
#   PROGRAM          the demo
#   EMULATOR         what runs it (scripts/wine-run for Windows builds), or empty
#   WORK_DIR         its working directory, made afresh
#   ARGS             its arguments, separated by spaces
#   SETTINGS         a settings file to put there as MORVANTIS.INI, or empty
#   EXIT_CODE        the exit code it must give
#   EXPECTED_OUTPUT  a file its standard output must equal, or empty
#   EXPECTED_ERROR   a regular expression its standard error must match, or empty

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
if(SETTINGS)
    configure_file(${SETTINGS} ${WORK_DIR}/MORVANTIS.INI COPYONLY)
endif()
separate_arguments(arguments UNIX_COMMAND "${ARGS}")

execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${arguments}
                WORKING_DIRECTORY ${WORK_DIR}
                RESULT_VARIABLE exit_code
                OUTPUT_VARIABLE output
                ERROR_VARIABLE error)
# Windows programs end their lines with CR LF.
string(REPLACE "\r" "" output "${output}")
string(REPLACE "\r" "" error "${error}")

set(problems "")
if(NOT exit_code STREQUAL EXIT_CODE)
    string(APPEND problems "exit code ${exit_code}, expected ${EXIT_CODE}\n")
endif()
if(EXPECTED_OUTPUT)
    file(READ ${EXPECTED_OUTPUT} expected)
    if(NOT output STREQUAL expected)
        string(APPEND problems "standard output differs; expected:\n${expected}")
    endif()
endif()
if(EXPECTED_ERROR AND NOT error MATCHES "${EXPECTED_ERROR}")
    string(APPEND problems "standard error does not match: ${EXPECTED_ERROR}\n")
endif()
if(problems)
    message(FATAL_ERROR "${PROGRAM} ${ARGS}\n${problems}"
                        "standard output:\n${output}standard error:\n${error}")
endif()
message(STATUS "${output}")
