# qx_add_service_package(<module target> SERVICE <name> [VERSION <a.b.c>] [DISPLAY_NAME <text>]
#                        [DESCRIPTION <text>] [START auto|delayed|demand] [DISPLAY_NAME_ID <n>]
#                        [RESTART on-failure] [MANUFACTURER <text>])
#
# Adds the target <name>_package, which writes <name>-<version>-x64.msi into the build folder: a
# Windows Installer package, built by wixl (Debian's msitools), that installs the module into
# Program Files\<name>\ and makes the service <name> with the control tool of the installed
# QxServiceHost, exactly as `QxServiceCtl install <name> --modules <module> <options> --replace`
# does, and starts it. It refuses to install where QxServiceHost is not installed. An upgrade (a later
# VERSION; the UpgradeCode comes from the service name and never changes) stops the service, replaces
# the module and starts it again; the uninstall removes the service, its Parameters and the module,
# and leaves the logs. VERSION defaults to the project's.
set(_qx_service_package_template ${CMAKE_CURRENT_LIST_DIR}/QxServicePackage.wxs.in)
set(_qx_msi_sequence_script ${CMAKE_CURRENT_LIST_DIR}/QxMsiSequence.cmake)

function(_qx_package_text function name text out)
  if(text MATCHES "[\"\\[\\]]")
    message(FATAL_ERROR "${function}: ${name} \"${text}\" must not hold double quotes or square brackets")
  endif()
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(qx_add_service_package module)
  set(function "qx_add_service_package(${module})")
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
                        "SERVICE;VERSION;DISPLAY_NAME;DESCRIPTION;START;DISPLAY_NAME_ID;RESTART;MANUFACTURER" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${function}: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET ${module})
    message(FATAL_ERROR "${function}: no target ${module}")
  endif()
  if(NOT arg_SERVICE MATCHES "^[A-Za-z0-9_.]+$")
    message(FATAL_ERROR "${function}: SERVICE \"${arg_SERVICE}\" must be given, of letters, digits, \"_\" and \".\"")
  endif()
  if(NOT arg_VERSION)
    set(arg_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT arg_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "${function}: VERSION \"${arg_VERSION}\" must be <major>.<minor>.<patch>")
  endif()
  if(arg_START AND NOT arg_START MATCHES "^(auto|delayed|demand)$")
    message(FATAL_ERROR "${function}: START takes auto, delayed or demand, not \"${arg_START}\"")
  endif()
  if(arg_RESTART AND NOT arg_RESTART STREQUAL "on-failure")
    message(FATAL_ERROR "${function}: RESTART takes on-failure, not \"${arg_RESTART}\"")
  endif()
  if(arg_DISPLAY_NAME_ID AND NOT arg_DISPLAY_NAME_ID MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${function}: DISPLAY_NAME_ID \"${arg_DISPLAY_NAME_ID}\" must be a number")
  endif()
  find_program(QX_WIXL wixl)
  if(NOT QX_WIXL)
    message(FATAL_ERROR "${function}: wixl not found: install it (Debian package wixl, from msitools)")
  endif()

  # The control tool's options, quoted for its command line inside the package's XML.
  set(CTL_OPTIONS "")
  foreach(option DISPLAY_NAME DESCRIPTION)
    if(arg_${option})
      _qx_package_text("${function}" ${option} "${arg_${option}}" text)
      string(TOLOWER "${option}" flag)
      string(REPLACE "_" "-" flag "${flag}")
      string(APPEND CTL_OPTIONS " --${flag} &quot;${text}&quot;")
    endif()
  endforeach()
  foreach(option START DISPLAY_NAME_ID RESTART)
    if(arg_${option})
      string(TOLOWER "${option}" flag)
      string(REPLACE "_" "-" flag "${flag}")
      string(APPEND CTL_OPTIONS " --${flag} ${arg_${option}}")
    endif()
  endforeach()
  set(manufacturer "${arg_MANUFACTURER}")
  if(NOT manufacturer)
    set(manufacturer "${arg_SERVICE}")
  endif()
  _qx_package_text("${function}" MANUFACTURER "${manufacturer}" MANUFACTURER)
  set(service_name_text "${arg_DISPLAY_NAME}")
  if(NOT service_name_text)
    set(service_name_text "${arg_SERVICE}")
  endif()
  _qx_package_text("${function}" DISPLAY_NAME "${service_name_text}" SERVICE_NAME_TEXT)
  set(SERVICE ${arg_SERVICE})
  string(UUID UPGRADE_CODE NAMESPACE 6DD226F1-45BD-4DC0-A055-B4EC0E1A6DA2 NAME "service package ${SERVICE}" TYPE SHA1
         UPPER)

  # wixl finds a File's Source only relative to its working folder, so the module is copied beside
  # the source it is built from.
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${SERVICE}-package)
  set(MODULE_FILE ${module}.dll)
  get_target_property(output_name ${module} OUTPUT_NAME)
  if(output_name)
    set(MODULE_FILE ${output_name}.dll)
  endif()
  configure_file(${_qx_service_package_template} ${work}/Package.wxs @ONLY)
  set(msi ${CMAKE_BINARY_DIR}/${SERVICE}-${arg_VERSION}-x64.msi)
  add_custom_command(OUTPUT ${msi}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${module}> ${work}/${MODULE_FILE}
    COMMAND ${QX_WIXL} -a x64 -D Version=${arg_VERSION} -o ${msi} Package.wxs
    # The earlier version goes first; the service stops, is made again and starts around InstallFiles.
    COMMAND ${CMAKE_COMMAND} -D MSI=${msi}
            "-D SEQUENCE=RemoveExistingProducts=1401;FindControlTool=1501;StopServiceForUpgrade=1502;RemoveService=1503;RemoveServiceOnRollback=4001;RegisterService=4002;StartService=4003"
            -P ${_qx_msi_sequence_script}
    WORKING_DIRECTORY ${work}
    DEPENDS ${module} ${work}/Package.wxs
    COMMENT "Building ${msi}"
    VERBATIM)
  add_custom_target(${SERVICE}_package DEPENDS ${msi})
  set_target_properties(${SERVICE}_package PROPERTIES QX_PACKAGE_FOLDER ${work} QX_PACKAGE_FILE ${msi})
endfunction()
