# Compiler settings shared by every target of our own. Third-party code keeps its own flags.

if(TUNELORE_SANITIZE AND NOT WIN32)
  # Applied globally so that GoogleTest and our code agree on the instrumented runtime.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

function(tunelore_own_code target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(WIN32)
    # COM and Win32 callbacks cast function pointers by design.
    target_compile_options(${target} PRIVATE -Wno-cast-function-type)
  endif()
endfunction()

function(tunelore_windows_defines target)
  # Narrow-character API throughout: every Windows call is made in its ANSI form explicitly.
  target_compile_definitions(${target} PUBLIC
    WINVER=0x0601 _WIN32_WINNT=0x0601 _WIN32_IE=0x0800 NOMINMAX STRICT)
endfunction()

# Test programs and tools are never shipped: under mingw, debug information (and, for tests,
# optimisation) doubles their compile and link times and buys nothing here. Tools stay
# optimised, since the benchmarks time the fake player beside the plug-in.
function(tunelore_test_only_code target)
  if(WIN32)
    target_compile_options(${target} PRIVATE -O0 -g0)
  endif()
endfunction()
function(tunelore_tool_code target)
  if(WIN32)
    target_compile_options(${target} PRIVATE -g0)
  endif()
endfunction()

# How a DLL that ships is compiled and linked: for size, with unreached sections dropped and
# symbols stripped. Its runtime comes from the win32 thread model's compiler: the objects speak
# to that runtime only through the exception and allocation ABI, which both models share, and
# the posix model's runtime would bring the whole pthread layer (a reference to it from our
# own code fails this link, since nothing here provides it).
function(tunelore_shipped_dll target)
  target_compile_options(${target} PRIVATE -Os -ffunction-sections -fdata-sections)
  target_link_options(${target} PRIVATE -Wl,--gc-sections -s)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The .def names the exports undecorated; the stdcall symbols behind them carry @n.
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
  set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK
    "${CMAKE_SOURCE_DIR}/cmake/link-with-runtime.sh ${TUNELORE_DLL_LINK_DRIVER}")
  set_target_properties(${target} PROPERTIES CXX_STANDARD 20)
  tunelore_own_code(${target})
  tunelore_windows_defines(${target})
endfunction()
