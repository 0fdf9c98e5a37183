# What `cmake --install` lays out, and what CPack archives:
#   bin/                          the host with the libraries it loads from its own folder, the
#                                 message library, the control tool and the dump generator
#   include/QxServiceModule.h     the module contract
#   lib/cmake/QxServiceModule/    the CMake package for module authors
#   toolchains/                   the MinGW-w64 toolchain file the product is built with
#   samples/Heartbeat/            the sample module: its source, its project and the built DLL
#   docs/                         the operators' reference and their README (docs/package-README.md;
#                                 the developers' README.md stays in the source tree)
# Test executables and test modules stay in the build tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The host loads each of these by its full path beside QxServiceHost.exe (or from the product's
# install path), so they all go into one folder, whatever kind of target CMake thinks they are.
set(qx_installed_binaries
  QxServiceHost
  QxLogger
  QxWatchdogAgent
  QxEventReporter
  QxEventAgentClient
  QxLogCompr
  QxMessages
  QxDumpGen
)
if(TARGET QxServiceCtl)
  list(APPEND qx_installed_binaries QxServiceCtl)
endif()
install(TARGETS ${qx_installed_binaries}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR})

# The module contract as a header-only target: in the build tree it reads the header from the
# sources, installed it reads it from include/.
set(qx_sdk_dir ${PROJECT_SOURCE_DIR}/Samples/ServiceModules/Sdk)
add_library(QxServiceModuleSdk INTERFACE)
set_target_properties(QxServiceModuleSdk PROPERTIES EXPORT_NAME Sdk)
target_include_directories(QxServiceModuleSdk INTERFACE $<BUILD_INTERFACE:${qx_sdk_dir}>
                                                        $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS QxServiceModuleSdk EXPORT QxServiceModuleTargets)
install(FILES ${qx_sdk_dir}/QxServiceModule.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(qx_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QxServiceModule)
install(EXPORT QxServiceModuleTargets NAMESPACE QxServiceModule:: DESTINATION ${qx_package_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/QxServiceModuleConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/package/QxServiceModuleConfig.cmake
                              INSTALL_DESTINATION ${qx_package_dir})
# A module must be a 64-bit DLL like the host, so the version file keeps the pointer-size check.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/package/QxServiceModuleConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/package/QxServiceModuleConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/package/QxServiceModuleConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/package/QxServiceModuleFunctions.cmake
              ${CMAKE_CURRENT_LIST_DIR}/package/QxServicePackage.cmake
              ${CMAKE_CURRENT_LIST_DIR}/package/QxMsiSequence.cmake
              ${CMAKE_CURRENT_LIST_DIR}/package/QxServicePackage.wxs.in
        DESTINATION ${qx_package_dir})

install(FILES ${PROJECT_SOURCE_DIR}/cmake/toolchains/mingw-w64-x86_64.cmake DESTINATION toolchains)
set(qx_sample_dir ${PROJECT_SOURCE_DIR}/Samples/ServiceModules/Heartbeat)
install(FILES ${qx_sample_dir}/Heartbeat.cpp ${qx_sample_dir}/Package/CMakeLists.txt DESTINATION samples/Heartbeat)
install(TARGETS QxSampleHeartbeat LIBRARY DESTINATION samples/Heartbeat)
install(FILES ${PROJECT_SOURCE_DIR}/docs/operators.md DESTINATION docs)
install(FILES ${PROJECT_SOURCE_DIR}/docs/package-README.md DESTINATION docs RENAME README.md)
