# Our own targets build warning-free; third-party headers come in as system headers.
function(tarnwick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # GCC 12 reports false -Wrestrict overlaps in inlined std::string concatenation at -O2/-O3
  # (GCC bug 105651); the warning carries no information for our code there.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
