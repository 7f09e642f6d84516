# The part of the mingw-w64 cross builds that both bitnesses share; the toolchain file of each
# sets CMAKE_SYSTEM_PROCESSOR and MINGW_PREFIX and includes this one.
# The -posix compilers use the POSIX thread model, which std::thread and std::mutex need.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

# Libraries and headers come from the cross root only; programs (code generators) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The DLL is loaded into 1C's process on machines without the mingw runtime: link it in, the
# thread library of the -posix compilers (winpthread) included; only system DLLs stay imports.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
