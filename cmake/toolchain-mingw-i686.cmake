# i686 Windows: the shipping target is i686, its twin x86_64.
set(TUNELORE_MINGW_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
