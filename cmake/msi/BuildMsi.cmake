# cmake -D BUILD=<build folder> -D WORK=<folder> -D VERSION=<a.b.c> -D OUTPUT=<.msi> [-D CHECK_ONLY=ON]
#       -P BuildMsi.cmake
# Lays out what `cmake --install` installs from BUILD into WORK/stage, checks that Product.wxs lists
# exactly those files, and unless CHECK_ONLY builds the product's Windows Installer package OUTPUT
# with wixl. wixl finds a File's Source only relative to its working folder, so it runs in the
# stage and reads ProductInfo2.ini from beside it.
cmake_minimum_required(VERSION 3.25)
foreach(required BUILD WORK)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "BuildMsi.cmake needs -D ${required}=...")
  endif()
endforeach()
set(source ${CMAKE_CURRENT_LIST_DIR}/Product.wxs)
include(${CMAKE_CURRENT_LIST_DIR}/../package/QxMsiSequence.cmake)
set(stage ${WORK}/stage)

file(REMOVE_RECURSE ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${stage} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

file(GLOB_RECURSE installed RELATIVE ${stage} ${stage}/*)
file(STRINGS ${source} source_lines REGEX "Source=\"[^\"$]+\"")
set(listed)
foreach(line IN LISTS source_lines)
  string(REGEX MATCH "Source=\"([^\"]+)\"" match "${line}")
  list(APPEND listed ${CMAKE_MATCH_1})
endforeach()
list(SORT installed)
list(SORT listed)
if(NOT installed STREQUAL listed)
  set(unlisted ${installed})
  list(REMOVE_ITEM unlisted ${listed})
  set(missing ${listed})
  list(REMOVE_ITEM missing ${installed})
  message(FATAL_ERROR "${source} does not list the install tree: installed but not listed: ${unlisted}; "
                      "listed but not installed: ${missing}")
endif()
if(CHECK_ONLY)
  return()
endif()

foreach(required VERSION OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "BuildMsi.cmake needs -D ${required}=...")
  endif()
endforeach()
find_program(wixl wixl REQUIRED)
file(COPY ${CMAKE_CURRENT_LIST_DIR}/ProductInfo2.ini DESTINATION ${WORK})
execute_process(COMMAND ${wixl} -a x64 -D Version=${VERSION} -D ProductInfo=../ProductInfo2.ini -o ${OUTPUT} ${source}
                WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)
# An upgrade stops the host's services, removes the earlier version before InstallInitialize,
# installs this one and starts the services again after InstallFinalize.
qx_fix_msi_sequence(${OUTPUT} FindControlTool=1401 StopHostServices=1402 RemoveExistingProducts=1403
                    StartHostServicesOnRollback=1501 StartHostServices=6660)
message(STATUS "Wrote ${OUTPUT}")
