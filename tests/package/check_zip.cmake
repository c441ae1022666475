# Makes the Windows ZIP with the build's `package` target, checks that it
# holds exactly what an application developer needs, and builds and runs
# the C application against the unpacked ZIP as a developer would: linked
# once with each import library, run under Wine beside morvantis.dll and
# the ZIP's simulated VCAND32.DLL.
#   BUILD_DIR    the Windows build directory
#   PACKAGE      the ZIP's name without .zip (also its top folder)
#   WORK_DIR     made afresh for the unpacked ZIP and the application
#   C_COMPILER   the mingw-w64 C compiler
#   EMULATOR     what runs Windows programs (scripts/wine-run)
#   APP_SOURCE   the C application

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(zip ${BUILD_DIR}/${PACKAGE}.zip)
file(REMOVE ${zip})
run("making the package" ${CMAKE_COMMAND} --build ${BUILD_DIR} --target package)

# Exactly these files: nothing missing, no test program or build output.
run("listing the ZIP" ${CMAKE_COMMAND} -E tar tf ${zip})
string(REGEX REPLACE "\n$" "" listing "${output}")
string(REPLACE "\n" ";" listing "${listing}")
list(FILTER listing EXCLUDE REGEX "/$")
list(SORT listing)
set(expected README.txt bin/morvantis.dll include/morvantis.h lib/libmorvantis.dll.a
             lib/morvantis.lib simulated-driver/VCAND32.DLL)
list(TRANSFORM expected PREPEND ${PACKAGE}/)
string(REPLACE ";" "\n  " shown "${listing}")
if(NOT listing STREQUAL expected)
    string(REPLACE ";" "\n  " expected "${expected}")
    message(FATAL_ERROR "${zip} holds\n  ${shown}\nexpected\n  ${expected}")
endif()
message(STATUS "${zip}:\n  ${shown}")

run("unpacking the ZIP" ${CMAKE_COMMAND} -E chdir ${WORK_DIR} ${CMAKE_COMMAND} -E tar xf ${zip})
set(package_dir ${WORK_DIR}/${PACKAGE})

foreach(import_library libmorvantis.dll.a morvantis.lib)
    set(run_dir ${WORK_DIR}/with-${import_library})
    file(MAKE_DIRECTORY ${run_dir})
    run("building the application with ${import_library}"
        ${C_COMPILER} -Wall -Wextra -Werror -static -I ${package_dir}/include ${APP_SOURCE}
        ${package_dir}/lib/${import_library} -o ${run_dir}/c_app.exe)
    file(COPY ${package_dir}/bin/morvantis.dll ${package_dir}/simulated-driver/VCAND32.DLL
         DESTINATION ${run_dir})
    run("running the application linked with ${import_library}"
        ${CMAKE_COMMAND} -E chdir ${run_dir} ${EMULATOR} ${run_dir}/c_app.exe)
    message(STATUS "c_app linked with ${import_library}: ${output}")
endforeach()
