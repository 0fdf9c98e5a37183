# Windows test executables run under Wine, all in one prefix. A setup test creates the prefix when
# it is missing, so a fresh clone needs no manual step before ctest.
set(QX_WINEPREFIX "${CMAKE_SOURCE_DIR}/build/wine-prefix" CACHE PATH "Wine prefix the Windows tests run in")

# Only a cross build that found wine64 has Wine tests. A build on Windows itself runs the tests
# marked NATIVE directly and no others (see qx_add_wine_test).
if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME QxWinePrefix COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh)
  set_tests_properties(QxWinePrefix PROPERTIES
    ENVIRONMENT "QX_WINEPREFIX=${QX_WINEPREFIX}"
    FIXTURES_SETUP QxWinePrefix
    TIMEOUT 300)
elseif(WIN32 AND CMAKE_CROSSCOMPILING)
  message(WARNING "wine64 was not found: the Windows tests cannot run and are left out (scripts/install-deps.sh installs it)")
endif()

# qx_add_wine_test(NAME name COMMAND target [args...] [SHARDS n [ALONE filter]] [FOLDER folder]
#                  [ENVIRONMENT name=value...] [NATIVE])
# The target runs under the emulator from the folder that holds the binaries, with the same Wine
# environment as scripts/wine-env.sh and the ENVIRONMENT given; wineserver is found beside the
# emulator. With FOLDER, the target is instead the executable of that name in folder, run there. The tests share one
# prefix, and some of what they change there is the prefix's alone (the logger's level, the one
# self-defence device), so each runs by itself (RUN_SERIAL). With SHARDS the target becomes n tests
# name.0 to name.<n-1>, each running one GoogleTest shard (GTEST_TOTAL_SHARDS, GTEST_SHARD_INDEX);
# these run beside each other, so such a target's tests must keep to registry keys, services and
# files of their own. The GoogleTest filter ALONE names those of them that must still run by
# themselves: they become the test name.alone, and the shards leave them out.
# In a build on Windows itself a NATIVE test (without SHARDS or FOLDER) runs directly, by itself,
# from its executable's folder; without NATIVE the test is left out there.
# The end-to-end tests that run alone (see Tests/Wine/EndToEnd): the hand-runs of the host.
set(QX_END_TO_END_ALONE "HostCommandLine.*:HostConfiguration.*:HostExceptionLog.*:HandRunBesideService.*")

function(qx_add_wine_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "NATIVE" "NAME;SHARDS;ALONE;FOLDER" "COMMAND;ENVIRONMENT")
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "qx_add_wine_test needs NAME and COMMAND")
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    if(arg_NATIVE)
      list(GET arg_COMMAND 0 target)
      add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>)
      set_tests_properties(${arg_NAME} PROPERTIES RUN_SERIAL TRUE TIMEOUT 600)
      if(arg_ENVIRONMENT)
        set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
      endif()
    endif()
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  set(folder ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  if(arg_FOLDER)
    set(folder ${arg_FOLDER})
    list(POP_FRONT arg_COMMAND executable)
    list(PREPEND arg_COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${folder}/${executable}.exe)
  endif()
  set(environment "WINEPREFIX=${QX_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;DISPLAY="
                  ${arg_ENVIRONMENT})
  set(tests)
  if(arg_SHARDS)
    set(shard_environment "${environment};GTEST_TOTAL_SHARDS=${arg_SHARDS}")
    if(arg_ALONE)
      add_test(NAME ${arg_NAME}.alone COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${folder})
      set_tests_properties(${arg_NAME}.alone PROPERTIES ENVIRONMENT "${environment};GTEST_FILTER=${arg_ALONE}"
                                                        RUN_SERIAL TRUE)
      list(APPEND tests ${arg_NAME}.alone)
      set(shard_environment "${shard_environment};GTEST_FILTER=-${arg_ALONE}")
    endif()
    math(EXPR last_shard "${arg_SHARDS} - 1")
    foreach(shard RANGE ${last_shard})
      add_test(NAME ${arg_NAME}.${shard} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${folder})
      set_tests_properties(${arg_NAME}.${shard} PROPERTIES ENVIRONMENT "${shard_environment};GTEST_SHARD_INDEX=${shard}")
      list(APPEND tests ${arg_NAME}.${shard})
    endforeach()
  else()
    add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${folder})
    set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT "${environment}" RUN_SERIAL TRUE)
    list(APPEND tests ${arg_NAME})
  endif()
  set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED QxWinePrefix TIMEOUT 600)
  get_filename_component(wine_dir "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
  set_tests_properties(${tests} PROPERTIES ENVIRONMENT_MODIFICATION "PATH=path_list_prepend:${wine_dir}")
endfunction()

# The environment of a test that runs Tests/Package/ConsumerTest.sh.
function(qx_set_package_consumer_properties test)
  set_tests_properties(${test} PROPERTIES
    ENVIRONMENT "CMAKE=${CMAKE_COMMAND};WINEPREFIX=${QX_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;DISPLAY="
    FIXTURES_REQUIRED QxWinePrefix
    RUN_SERIAL TRUE
    TIMEOUT 600)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    get_filename_component(wine_dir "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
    set_tests_properties(${test} PROPERTIES ENVIRONMENT_MODIFICATION "PATH=path_list_prepend:${wine_dir}")
  endif()
endfunction()
