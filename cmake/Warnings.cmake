# Warnings are errors in every toolchain.
function(qx_set_warnings target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "MSVC")
    # cl.exe: /W4 reports what -Wall, -Wextra and -Wshadow report (C4456 to C4459 for shadowing) and
    # the narrowing conversions of -Wconversion (C4244, C4267); C4245 is a sign conversion, left
    # alone as with -Wno-sign-conversion. /permissive- holds the sources to the standard, as
    # -Wpedantic does. C4265, the nearest to -Wnon-virtual-dtor, stays off: the implementations of
    # the library interfaces are final classes whose destructors are not virtual on purpose, and
    # C4265 makes no exception for them. /utf-8 reads the sources as g++ does, whatever the
    # machine's code page.
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:/W4;/WX;/wd4245;/utf-8>"
                                             "$<$<COMPILE_LANGUAGE:CXX>:/permissive-;/Zc:__cplusplus>")
  elseif(CMAKE_CXX_COMPILER_FRONTEND_VARIANT STREQUAL "MSVC")
    # clang-cl: the warnings of the other clang builds, handed to the clang driver as they are
    # (clang-cl's own -Wall would mean -Weverything).
    target_compile_options(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:C,CXX>:/clang:-Wall;/clang:-Wextra;/clang:-Wpedantic;/clang:-Werror;/clang:-Wshadow>"
      "$<$<COMPILE_LANGUAGE:CXX>:/clang:-Wnon-virtual-dtor>"
      "$<$<COMPILE_LANGUAGE:C,CXX>:/clang:-Wconversion;/clang:-Wno-sign-conversion>")
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wshadow
                                             $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
                                             -Wconversion -Wno-sign-conversion)
  endif()
endfunction()
