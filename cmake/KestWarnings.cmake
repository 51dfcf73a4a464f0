# Warning set for the project's own targets (never for third-party code built alongside).
function(kest_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wno-missing-field-initializers)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
  if(KEST_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
