# Cross build of the 32-bit Windows DLL and tools on Linux with mingw-w64: most 1C clients on
# Windows are 32-bit processes, which load only a 32-bit in-process server.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
