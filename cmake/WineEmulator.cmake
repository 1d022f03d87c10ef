# Windows test executables run through Wine, so plain ctest runs them. Each build tree has its
# own Wine prefix; scripts/wine-rig prepares it and keeps one wineserver up for the run.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TUNELORE_WINE_ARCH win64)
else()
  set(TUNELORE_WINE_ARCH win32)
endif()
set(TUNELORE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of this build's tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_SOURCE_DIR}/scripts/wine-run;${TUNELORE_WINE_ARCH};${TUNELORE_WINEPREFIX}")
