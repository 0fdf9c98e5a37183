# The windows-msabi preset: the closed libraries' stand-ins and the test modules built a second time,
# by clang in Microsoft's mode (cmake/toolchains/clang-msabi-x86_64.cmake), as those libraries and
# most modules are built in a real installation. They are laid into a copy of the windows preset's
# bin folder in place of the g++-built ones, and the host and tests of that build run against them.
set(QX_GNU_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/windows" CACHE PATH
    "The windows preset's build, whose host and tests run against this set")
set(qx_msabi_host_folder ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/msabi)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/msabi)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)

set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")
add_subdirectory(cmake/msabi)
add_link_options(${QX_MSABI_LINK_OPTIONS})
link_libraries(${QX_MSABI_LINK_LIBRARIES})
# zlib's static library of MinGW-w64 is plain C and links here too. Its header is found among
# MinGW-w64's, which must stay behind libc++'s.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
set_target_properties(ZLIB::ZLIB PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "")

add_subdirectory(Shared/Win32Support)
add_subdirectory(Products)
add_subdirectory(Samples)
include_directories(${PROJECT_SOURCE_DIR}/Tests/Wine/Common ${PROJECT_SOURCE_DIR}/Products/Common)
link_libraries(QxWin32Support QxComponentContracts)
add_subdirectory(Tests/Wine/TestModules)

# Every library built here replaces its namesake in the copy of the windows preset's bin folder.
set(qx_msabi_images QxLogger QxWatchdogAgent QxLogCompr QxEventReporter QxEventAgentClient QxDumpGen QxSampleHeartbeat
    QxTestModuleA QxTestModuleB QxTestModuleC QxTestModuleNoShutdown QxTestModuleNoInitialize
    QxTestPlantedModule QxTestWatchdogNoOnExit QxTestLogCompressor QxTestDetachError)
set(qx_copies)
foreach(image IN LISTS qx_msabi_images)
  list(APPEND qx_copies COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${image}> ${qx_msabi_host_folder})
endforeach()
add_custom_target(QxMsAbiHostFolder ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${QX_GNU_BUILD_DIR}/bin ${qx_msabi_host_folder}
  ${qx_copies}
  DEPENDS ${qx_msabi_images}
  COMMENT "Laying the Microsoft-ABI set into a copy of ${QX_GNU_BUILD_DIR}/bin"
  VERBATIM)

enable_testing()
include(cmake/WineTests.cmake)
set(qx_msabi_environment QX_TEST_MODULES_ABI=msvc)
foreach(tests QxStandInsWineTests QxServiceCtlWineTests)
  qx_add_wine_test(NAME ${tests} COMMAND ${tests} FOLDER ${qx_msabi_host_folder} ENVIRONMENT ${qx_msabi_environment})
endforeach()
# A module author's project built with this toolchain against the windows build's installed package,
# run by the installed host as a service and by the control tool's run.
add_test(NAME QxPackageConsumer
         COMMAND bash ${PROJECT_SOURCE_DIR}/Tests/Package/ConsumerTest.sh ${QX_GNU_BUILD_DIR}
                 ${CMAKE_BINARY_DIR}/package-test ${CMAKE_TOOLCHAIN_FILE} -DQX_MSABI_LIBRARY_DIR=${QX_MSABI_LIBRARY_FOLDER})
qx_set_package_consumer_properties(QxPackageConsumer)
qx_add_wine_test(NAME EndToEnd COMMAND QxEndToEndTests FOLDER ${qx_msabi_host_folder} SHARDS 6
                 ALONE ${QX_END_TO_END_ALONE} ENVIRONMENT ${qx_msabi_environment})
