# The same sources for 64-bit Windows, for integration tests under a Wine
# that cannot run 32-bit code on this machine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
