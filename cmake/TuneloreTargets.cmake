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
