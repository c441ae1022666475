# Installs the native build into a fresh prefix, checks what it installed,
# and builds the C application as a separate CMake project that finds the
# library with find_package(morvantis), then runs it. The application is
# linked with new-style dynamic tags, so that its RUNPATH finds only
# libmorvantis.so: the driver library must be found through the library's
# own RUNPATH.
#   BUILD_DIR     the native build directory
#   WORK_DIR      made afresh for the prefix and the application's build
#   LIBDIR        the library folder below the prefix (lib, lib64, ...)
#   GENERATOR     the CMake generator for the application's build
#   C_COMPILER    its C compiler
#   EXTRA_FLAGS   compile and link flags the application needs besides,
#                 or empty (the sanitizers, when the library has them)
#   CONSUMER_DIR  the application's CMake project
#   APP_SOURCE    the C application

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run("installing" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
set(expected
    bin/morvantis-bus
    include/morvantis.h
    ${LIBDIR}/cmake/morvantis/morvantisConfig.cmake
    ${LIBDIR}/cmake/morvantis/morvantisConfigVersion.cmake
    ${LIBDIR}/cmake/morvantis/morvantisTargets-[a-z]+.cmake
    ${LIBDIR}/cmake/morvantis/morvantisTargets.cmake
    ${LIBDIR}/libmorvantis.so
    ${LIBDIR}/libmorvantis.so.[0-9]+
    ${LIBDIR}/libmorvantis.so.[0-9]+.[0-9]+.[0-9]+
    ${LIBDIR}/libvcand32.so)
list(LENGTH installed count)
list(LENGTH expected expected_count)
set(matches FALSE)
if(count EQUAL expected_count)
    set(matches TRUE)
    foreach(file pattern IN ZIP_LISTS installed expected)
        if(NOT file MATCHES "^${pattern}$")
            set(matches FALSE)
        endif()
    endforeach()
endif()
if(NOT matches)
    string(REPLACE ";" "\n  " installed "${installed}")
    string(REPLACE ";" "\n  " expected "${expected}")
    message(FATAL_ERROR "installed\n  ${installed}\nexpected\n  ${expected}")
endif()

set(app_build ${WORK_DIR}/app-build)
run("configuring the application" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${app_build}
    -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DAPP_SOURCE=${APP_SOURCE} "-DCMAKE_C_FLAGS=${EXTRA_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS} -Wl,--enable-new-dtags")
run("building the application" ${CMAKE_COMMAND} --build ${app_build})

set(run_dir ${WORK_DIR}/run)
file(MAKE_DIRECTORY ${run_dir})
run("running the application"
    ${CMAKE_COMMAND} -E chdir ${run_dir} ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH
    ${app_build}/c_app)
message(STATUS "c_app against the installed package: ${output}")
