# Settings shared by every target of ours: warnings as errors and the optional sanitizers.
# Generated and third-party code is included as SYSTEM so it is not held to these flags.

function(viewer_target_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  # g++ 12 reports impossible overlaps in std::string concatenation at -O3 (a false positive
  # of its -Wrestrict analysis); the warning stays on for other compilers.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(VIEWER_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${VIEWER_SANITIZE} -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${VIEWER_SANITIZE})
  endif()
endfunction()
