# The native build: libmorvantis.so over the host port, and the simulated
# driver as libvcand32.so, which the library links as it would VCAND32.DLL.

add_library(vcand32 SHARED $<TARGET_OBJECTS:vcand32_sim> $<TARGET_OBJECTS:morvantis_catalogue>)
target_link_libraries(vcand32 PRIVATE ${vcand32_sim_libraries})
target_include_directories(vcand32 PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/sim>
                                          $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
                                          $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)

add_library(morvantis_host OBJECT
    src/platform/host/platform_host.cpp
    src/platform/host/ini_file.cpp)
target_include_directories(morvantis_host PUBLIC src include)

add_library(morvantis SHARED
    $<TARGET_OBJECTS:morvantis_core>
    $<TARGET_OBJECTS:morvantis_catalogue>
    $<TARGET_OBJECTS:morvantis_host>
    src/api/library_load.cpp)
target_include_directories(morvantis PRIVATE src ${generated_dir}
                                     PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
# Installed, the library finds the driver library beside it.
set_target_properties(morvantis PROPERTIES VERSION ${PROJECT_VERSION}
                                           SOVERSION ${PROJECT_VERSION_MAJOR}
                                           INSTALL_RPATH "$ORIGIN")
target_compile_definitions(morvantis PRIVATE MORVANTIS_BUILDING)
target_link_libraries(morvantis PRIVATE vcand32 ${CMAKE_DL_LIBS})
optimise_whole(morvantis_host morvantis vcand32)

# Everything linked into one program, for native tests and the benchmark.
add_library(morvantis_static STATIC
    $<TARGET_OBJECTS:morvantis_core>
    $<TARGET_OBJECTS:morvantis_catalogue>
    $<TARGET_OBJECTS:morvantis_host>
    $<TARGET_OBJECTS:vcand32_sim>)
target_include_directories(morvantis_static PUBLIC src include sim)
target_link_libraries(morvantis_static PUBLIC ${vcand32_sim_libraries})
