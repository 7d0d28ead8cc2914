# Settings shared by every target of ours: warnings as errors and the optional sanitizers.
# Generated and third-party code is included as SYSTEM so it is not held to these flags.

function(viewer_target_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  if(VIEWER_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${VIEWER_SANITIZE} -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=${VIEWER_SANITIZE})
  endif()
endfunction()
