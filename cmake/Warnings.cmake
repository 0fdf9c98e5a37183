# Warnings are errors in every toolchain.
function(qx_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wshadow
                                           $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
                                           -Wconversion -Wno-sign-conversion)
endfunction()
