# cmake -DSOURCE=<tree> -DBINARY=<folder> -P ProductWithoutTests.cmake
# Configures the tree with QX_BUILD_TESTS off and builds the host's layers and the tool's logic.
foreach(step IN ITEMS configure build)
  if(step STREQUAL "configure")
    # Every name a target links must be a target of the tree: one of Tests/ would not be.
    set(command ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -DQX_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug
                -DCMAKE_LINK_LIBRARIES_ONLY_TARGETS=ON)
  else()
    set(command ${CMAKE_COMMAND} --build ${BINARY} -j2 --target QxServiceHostEntry QxServiceCtlLogic)
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the ${step} without Tests/ failed:\n${output}")
  endif()
endforeach()
