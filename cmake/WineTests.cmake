# Windows test executables run under Wine, all in one prefix. A setup test creates the prefix when
# it is missing, so a fresh clone needs no manual step before ctest.
set(QX_WINEPREFIX "${CMAKE_SOURCE_DIR}/build/wine-prefix" CACHE PATH "Wine prefix the Windows tests run in")

if(WIN32)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(WARNING "wine64 was not found: the Windows tests cannot run (scripts/install-deps.sh installs it)")
  endif()
  add_test(NAME QxWinePrefix COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh)
  set_tests_properties(QxWinePrefix PROPERTIES
    ENVIRONMENT "QX_WINEPREFIX=${QX_WINEPREFIX}"
    FIXTURES_SETUP QxWinePrefix
    TIMEOUT 300)
endif()

# qx_add_wine_test(NAME name COMMAND target [args...])
# The target runs under the emulator from the folder that holds the binaries, with the same Wine
# environment as scripts/wine-env.sh; wineserver is found beside the emulator.
function(qx_add_wine_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME" "COMMAND")
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "qx_add_wine_test needs NAME and COMMAND")
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set_tests_properties(${arg_NAME} PROPERTIES
    ENVIRONMENT "WINEPREFIX=${QX_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;DISPLAY="
    FIXTURES_REQUIRED QxWinePrefix
    TIMEOUT 600)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    get_filename_component(wine_dir "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
    set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT_MODIFICATION "PATH=path_list_prepend:${wine_dir}")
  endif()
endfunction()
