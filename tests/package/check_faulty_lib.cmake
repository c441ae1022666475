# Makes an import library the wrong way and requires the import library
# check to refuse it with the given message.
#   DLLTOOL     llvm-dlltool
#   DEF         the decorated .def
#   FLAGS       llvm-dlltool's flags besides -d and -l
#   UNDECORATE  make the library from a copy of the .def without the @N
#   CHECKER     the check: PYTHON CHECKER DEF LIB LLVM_NM
#   PYTHON, LLVM_NM
#   WORK_DIR    made afresh
#   EXPECTED    a regular expression the check's output must match

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(def ${DEF})
if(UNDECORATE)
    set(SOURCE ${DEF})
    set(OUTPUT ${WORK_DIR}/undecorated.def)
    include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/undecorate_def.cmake)
    set(def ${OUTPUT})
endif()
separate_arguments(flags UNIX_COMMAND "${FLAGS}")
execute_process(COMMAND ${DLLTOOL} ${flags} -d ${def} -l ${WORK_DIR}/faulty.lib
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${PYTHON} ${CHECKER} ${DEF} ${WORK_DIR}/faulty.lib ${LLVM_NM}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result EQUAL 0 OR NOT output MATCHES "${EXPECTED}")
    message(FATAL_ERROR "the check of a library made with ${FLAGS} from ${def} "
                        "gave ${result}, expected a failure matching ${EXPECTED}:\n${output}")
endif()
