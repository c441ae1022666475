# What an application developer takes.
#
# Windows: `cmake --build <build> --target package` makes a ZIP (CPack) of
# the DLL, its two import libraries, the header, the simulated driver in a
# folder of its own and a README:
#   morvantis-<version>-win32/
#     README.txt
#     bin/morvantis.dll
#     include/morvantis.h
#     lib/libmorvantis.dll.a          for mingw-w64 (GNU ld, lld)
#     lib/morvantis.lib               for MSVC-style linkers (link, lld-link)
#     simulated-driver/VCAND32.DLL    only for trying the library without a
#                                     CAN driver installed
#
# Native: `cmake --install <build>` installs libmorvantis.so, the driver
# library it links (here the simulated libvcand32.so, found through the
# library's RUNPATH $ORIGIN), the header and a CMake package, so that
# find_package(morvantis) gives the target morvantis::morvantis.

if(WIN32)
    install(TARGETS morvantis RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
    install(FILES ${morvantis_msvc_implib} DESTINATION lib)
    install(FILES include/morvantis.h DESTINATION include)
    # The simulated driver only: applications do not link it.
    install(TARGETS vcand32 RUNTIME DESTINATION simulated-driver
                            ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(package_platform win32)
    else()
        set(package_platform win64)
    endif()
    set(package_name morvantis-${PROJECT_VERSION}-${package_platform})
    configure_file(cmake/package/README.txt.in ${PROJECT_BINARY_DIR}/package/README.txt
                   @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/package/README.txt DESTINATION .)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ${package_name})
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
    # The DLLs without the symbols and debugging information that the
    # statically linked runtime brings along.
    set(CPACK_STRIP_FILES ON)
    include(CPack)
else()
    include(GNUInstallDirs)
    include(CMakePackageConfigHelpers)
    set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/morvantis)

    install(TARGETS morvantis vcand32 EXPORT morvantisTargets
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(FILES include/morvantis.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(EXPORT morvantisTargets NAMESPACE morvantis:: DESTINATION ${config_dir})
    configure_package_config_file(cmake/package/morvantisConfig.cmake.in
                                  ${PROJECT_BINARY_DIR}/package/morvantisConfig.cmake
                                  INSTALL_DESTINATION ${config_dir})
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/morvantisConfigVersion.cmake
                                     COMPATIBILITY SameMajorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/package/morvantisConfig.cmake
                  ${PROJECT_BINARY_DIR}/package/morvantisConfigVersion.cmake
            DESTINATION ${config_dir})
endif()
