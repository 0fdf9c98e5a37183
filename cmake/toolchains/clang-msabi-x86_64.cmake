# clang in Microsoft's mode, linked by lld-link: binaries in the ABI of Microsoft's x64 compiler,
# as the product's closed libraries and most service modules are built. MinGW-w64's headers and
# import libraries stand in for the Windows SDK's; libc++'s headers for Microsoft's C++ library,
# with the few parts libc++ compiles out of line in cmake/msabi/. At run time the C runtime is
# ucrtbase.dll and the C++ exception support vcruntime140.dll, both Wine's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(qx_msabi_target x86_64-pc-windows-msvc)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${qx_msabi_target})
set(CMAKE_CXX_COMPILER_TARGET ${qx_msabi_target})
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_MT "")
# The compiler checks link no program: there is no C runtime start-up to link it with yet.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# MinGW-w64's headers test __declspec with #ifdef; in Microsoft's mode it is a keyword, not a macro.
# Without -fgnuc-version they define __attribute__ away and windows.h fails. Their inline functions
# would call math functions that ucrtbase.dll exports under other names.
set(qx_msabi_c_flags "-fgnuc-version=12 -isystem /usr/x86_64-w64-mingw32/include -D__declspec=__declspec -D_UCRT -D__CRT__NO_INLINE -D__USE_MINGW_ANSI_STDIO=0")
set(CMAKE_C_FLAGS_INIT "${qx_msabi_c_flags}")
# libc++ in Microsoft's ABI, linked statically, without Microsoft's vcruntime headers; function-local
# statics without the thread-safe guard, whose helpers live in Microsoft's static runtime.
# libc++'s headers come first: its C headers wrap MinGW-w64's.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem /usr/lib/llvm-14/include/c++/v1 ${qx_msabi_c_flags} -D_LIBCPP_NO_VCRUNTIME -D_LIBCPP_DISABLE_EXTERN_TEMPLATE -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS -fno-threadsafe-statics")
# No default libraries (CMake's list for this compiler has MinGW-style names): a project names every
# library it links, as cmake/msabi/ does.
set(qx_msabi_link_flags "-fuse-ld=lld -nostdlib -Wno-unused-command-line-argument")
# A project of its own built with this toolchain, a module author's say, gives QX_MSABI_LIBRARY_DIR:
# the folder where the windows-msabi preset put the runtime's static part and the import libraries
# (build/windows-msabi/cmake/msabi/import-libraries). Every image then links them.
if(QX_MSABI_LIBRARY_DIR)
  set(CMAKE_C_STANDARD_LIBRARIES "")
  foreach(library QxMsAbiRuntime vcruntime140 ucrtbase kernel32)
    string(APPEND CMAKE_C_STANDARD_LIBRARIES " ${QX_MSABI_LIBRARY_DIR}/${library}.lib")
  endforeach()
  set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}")
  string(APPEND qx_msabi_link_flags
         " -Xlinker /libpath:${QX_MSABI_LIBRARY_DIR} -Xlinker /nodefaultlib -Xlinker /manifest:no")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${qx_msabi_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${qx_msabi_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${qx_msabi_link_flags}")

set(CMAKE_MSVC_RUNTIME_LIBRARY "")
find_program(QX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QX_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QX_WINE64})
endif()
