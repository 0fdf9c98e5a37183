# qx_add_service_module(<name> <source>...)
#
# Builds <name>.dll, a service module for QxServiceHost: a 64-bit Windows DLL that the host loads
# with LoadLibraryW and that exports SmInitialize and SmShutdown under their plain C names (define
# them with QX_MODULE_API from QxServiceModule.h). The C and C++ runtimes are linked in statically,
# as in the host and its libraries: a module then needs no runtime DLL beside it, and a MinGW-w64
# module that used libstdc++ as a DLL would fail to load. Every compiler for Microsoft's ABI gets
# the static runtime (MSVC_RUNTIME_LIBRARY MultiThreaded, libcmt): cl, clang-cl, and clang with an
# msvc target, whose GNU-style driver leaves MSVC unset. A toolchain that links a runtime of its own
# with /nodefaultlib, as the project's clang-msabi toolchain does under Wine, keeps that runtime.
function(qx_add_service_module name)
  if(NOT ARGN)
    message(FATAL_ERROR "qx_add_service_module(${name}): no sources given")
  endif()
  if(NOT WIN32)
    message(FATAL_ERROR "qx_add_service_module(${name}): service modules are Windows DLLs; "
                        "configure with a Windows toolchain (MinGW-w64 or MSVC)")
  endif()
  # The host never links against a module, so a module library: no import library.
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".dll")
  target_link_libraries(${name} PRIVATE QxServiceModule::Sdk)
  if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC")
    # Before policy CMP0091 the runtime is a flag in CMAKE_<LANG>_FLAGS and the property does nothing.
    cmake_policy(GET CMP0091 runtime_policy)
    if(NOT runtime_policy STREQUAL "NEW")
      message(FATAL_ERROR "qx_add_service_module(${name}): the static runtime needs policy CMP0091; "
                          "start the project with cmake_minimum_required(VERSION 3.15) or later")
    endif()
    set_target_properties(${name} PROPERTIES MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  elseif(MINGW)
    target_link_options(${name} PRIVATE -static)
  endif()
endfunction()
