# run(WHAT COMMAND...): runs the command and stops the script with WHAT, the
# command and its output when it fails; its output is in `output` afterwards.
function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                    ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result}):\n${ARGN}\n${output}")
    endif()
    set(output "${output}" PARENT_SCOPE)
endfunction()
