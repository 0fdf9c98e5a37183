# The product's Windows Installer package: `cmake --build --preset windows --target msi` writes
# QxServiceHost-<version>-x64.msi into the build folder, and the sample module's own package
# QxHeartbeat-<version>-x64.msi (Samples/ServiceModules/Heartbeat), built by wixl (Debian's msitools) from
# cmake/msi/Product.wxs over what `cmake --install` lays out. QX_PACKAGE_VERSION sets the version a
# package of the same build carries, so that an upgrade can be made and tested.
set(QX_PACKAGE_VERSION ${PROJECT_VERSION} CACHE STRING "Version of the Windows Installer package")
set(qx_msi ${CMAKE_BINARY_DIR}/${PROJECT_NAME}-${QX_PACKAGE_VERSION}-x64.msi)
add_custom_target(msi
  COMMAND ${CMAKE_COMMAND} -D BUILD=${CMAKE_BINARY_DIR} -D WORK=${CMAKE_BINARY_DIR}/msi
          -D VERSION=${QX_PACKAGE_VERSION} -D OUTPUT=${qx_msi} -P ${CMAKE_CURRENT_LIST_DIR}/msi/BuildMsi.cmake
  COMMENT "Building ${qx_msi}"
  VERBATIM)
add_dependencies(msi ${qx_installed_binaries} QxSampleHeartbeat QxHeartbeat_package)
