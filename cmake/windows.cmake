# morvantis.dll and the simulated VCAND32.DLL, 32-bit, runtime linked
# statically so that they need nothing but system DLLs (and, for the
# library, VCAND32.DLL).

set(static_runtime -static -static-libgcc -static-libstdc++)
# Every export and import is matched to its .def name exactly: the linker
# must not pair a decorated stdcall name with an undecorated cdecl symbol
# (or the reverse), which would call with the wrong stack clean-up.
set(dll_link_guards -Wl,--kill-at -Wl,--disable-stdcall-fixup)

# The .def files carry the 32-bit stdcall decorations (@N); 64-bit Windows
# has no such decoration, so there a copy without them is made at build
# time, and made again whenever the source changes.
function(def_for_this_target source result)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        get_filename_component(name ${source} NAME)
        set(plain ${CMAKE_CURRENT_BINARY_DIR}/undecorated/${name})
        add_custom_command(OUTPUT ${plain}
            COMMAND ${CMAKE_COMMAND} -DSOURCE=${source} -DOUTPUT=${plain}
                    -P ${PROJECT_SOURCE_DIR}/cmake/undecorate_def.cmake
            DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/undecorate_def.cmake
            COMMENT "Undecorated ${name} for 64-bit Windows")
        set(${result} ${plain} PARENT_SCOPE)
    else()
        set(${result} ${source} PARENT_SCOPE)
    endif()
endfunction()
def_for_this_target(${PROJECT_SOURCE_DIR}/src/api/morvantis.def morvantis_def)
def_for_this_target(${PROJECT_SOURCE_DIR}/src/driver/vcand32.def vcand32_def)
def_for_this_target(${PROJECT_SOURCE_DIR}/sim/vcand32_sim.def vcand32_sim_def)

# Import library for the driver operations, from our own declarations.
set(vcand32_implib ${CMAKE_CURRENT_BINARY_DIR}/libvcand32_import.a)
add_custom_command(OUTPUT ${vcand32_implib}
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${vcand32_def} -l ${vcand32_implib} -D VCAND32.DLL
    DEPENDS ${vcand32_def}
    COMMENT "Import library for VCAND32.DLL")
add_custom_target(vcand32_import DEPENDS ${vcand32_implib})

add_library(morvantis SHARED
    $<TARGET_OBJECTS:morvantis_core>
    $<TARGET_OBJECTS:morvantis_catalogue>
    src/platform/win32/platform_win32.cpp
    src/resources/morvantis.rc
    ${morvantis_def})
target_include_directories(morvantis PRIVATE src include ${generated_dir})
target_compile_definitions(morvantis PRIVATE MORVANTIS_BUILDING)
set_target_properties(morvantis PROPERTIES PREFIX "" OUTPUT_NAME morvantis
                                           IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
add_dependencies(morvantis vcand32_import)
# The import library for applications, made from the decorated .def, so
# that the references their compilers emit (_CAN_Init@0 on 32-bit) resolve
# to the undecorated exports. It replaces the one the linker writes.
add_custom_command(TARGET morvantis POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${morvantis_def} -D morvantis.dll
            -l $<TARGET_LINKER_FILE:morvantis>
    COMMENT "Import library for morvantis.dll")
# The same for MSVC-style linkers (link, lld-link): -k gives each import
# the name type "undecorate", so that _CAN_Init@0 imports CAN_Init.
find_program(MORVANTIS_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED
             DOC "llvm-dlltool, for the import library of MSVC-style linkers")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(dlltool_machine i386)
else()
    set(dlltool_machine i386:x86-64)
endif()
set(morvantis_msvc_implib ${PROJECT_BINARY_DIR}/morvantis.lib)
add_custom_command(OUTPUT ${morvantis_msvc_implib}
    COMMAND ${MORVANTIS_LLVM_DLLTOOL} -m ${dlltool_machine} -k -d ${morvantis_def}
            -D morvantis.dll -l ${morvantis_msvc_implib}
    DEPENDS ${morvantis_def}
    COMMENT "Import library for morvantis.dll, MSVC style")
add_custom_target(morvantis_msvc_implib ALL DEPENDS ${morvantis_msvc_implib})
target_link_options(morvantis PRIVATE ${static_runtime} ${dll_link_guards})
target_link_libraries(morvantis PRIVATE ${vcand32_implib} user32 kernel32)

add_library(vcand32 SHARED
    $<TARGET_OBJECTS:vcand32_sim>
    $<TARGET_OBJECTS:morvantis_catalogue>
    ${vcand32_sim_def})
set_target_properties(vcand32 PROPERTIES PREFIX "" OUTPUT_NAME VCAND32 SUFFIX ".DLL"
                                         IMPORT_PREFIX "lib" IMPORT_SUFFIX ".a")
target_link_options(vcand32 PRIVATE ${static_runtime} ${dll_link_guards})
target_link_libraries(vcand32 PRIVATE ${vcand32_sim_libraries})
# Test programs and the demo call the driver operations directly too.
add_custom_command(TARGET vcand32 POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${vcand32_sim_def} -D VCAND32.DLL
            -l $<TARGET_LINKER_FILE:vcand32>
    COMMENT "Import library for the simulated VCAND32.DLL")
