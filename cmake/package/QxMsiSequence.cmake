# qx_fix_msi_sequence(<msi> <action>=<number>...)
# cmake -D MSI=<msi> -D SEQUENCE="<action>=<number>;..." -P QxMsiSequence.cmake
#
# Gives actions of a package's InstallExecuteSequence the numbers they must have. wixl numbers an
# action that has no standard place by a walk whose order follows the hash of the actions' names, so
# a custom action "After" InstallFiles may land after InstallFinalize; msibuild (Debian's msitools)
# sets the numbers, and each is read back, so that a name that matches no action fails the build.
function(qx_fix_msi_sequence msi)
  find_program(QX_MSIBUILD msibuild REQUIRED)
  find_program(QX_MSIINFO msiinfo REQUIRED)
  set(queries)
  foreach(entry IN LISTS ARGN)
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 action)
    list(GET pair 1 number)
    list(APPEND queries -q "UPDATE InstallExecuteSequence SET Sequence = ${number} WHERE Action = '${action}'")
  endforeach()
  execute_process(COMMAND ${QX_MSIBUILD} ${msi} ${queries} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${QX_MSIINFO} export ${msi} InstallExecuteSequence OUTPUT_VARIABLE table
                  COMMAND_ERROR_IS_FATAL ANY)
  foreach(entry IN LISTS ARGN)
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 action)
    list(GET pair 1 number)
    if(NOT table MATCHES "(^|\n)${action}\t[^\t\n]*\t${number}\r?(\n|$)")
      message(FATAL_ERROR "${msi}: ${action} is not action ${number} of its InstallExecuteSequence")
    endif()
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  qx_fix_msi_sequence(${MSI} ${SEQUENCE})
endif()
