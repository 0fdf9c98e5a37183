# qx_add_service_module(<name> <source>...)
#
# Builds <name>.dll, a service module for QxServiceHost: a 64-bit Windows DLL that the host loads
# with LoadLibraryW and that exports SmInitialize and SmShutdown under their plain C names (define
# them with QX_MODULE_API from QxServiceModule.h). The C and C++ runtimes are linked in statically,
# as in the host and its libraries: a module then needs no runtime DLL beside it, and a MinGW-w64
# module that used libstdc++ as a DLL would fail to load.
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
  if(MSVC)
    set_target_properties(${name} PROPERTIES MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  elseif(MINGW)
    target_link_options(${name} PRIVATE -static)
  endif()
endfunction()
