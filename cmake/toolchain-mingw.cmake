# Cross build for Windows with mingw-w64; the including toolchain file names the processor in
# TUNELORE_MINGW_PROCESSOR. The -posix thread model is what GoogleTest needs; -static keeps
# the compiler runtime (winpthread included) out of the import tables.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TUNELORE_MINGW_PROCESSOR})

set(TOOLCHAIN_PREFIX ${TUNELORE_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
# The shipped DLL's runtime: the win32 thread model's, which brings no pthread layer.
set(TUNELORE_DLL_LINK_DRIVER ${TOOLCHAIN_PREFIX}-g++-win32)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
