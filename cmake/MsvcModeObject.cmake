# C sources that must be compiled the way Microsoft's compiler compiles them, also in the MinGW build:
# structured exception handling (__try/__except), which g++ lacks. clang in Microsoft mode builds
# them into COFF objects that MinGW's linker takes as they are; their unwind data names
# __C_specific_handler, which msvcrt provides. A build by Microsoft's compiler or clang-cl compiles
# them as its other sources.
#
# qx_add_msvc_mode_sources(target source...)
function(qx_add_msvc_mode_sources target)
  if(MSVC)
    target_sources(${target} PRIVATE ${ARGN})
    return()
  endif()
  find_program(QX_MSVC_MODE_CLANG NAMES clang-14 clang REQUIRED)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/msvc-mode)
  foreach(source IN LISTS ARGN)
    get_filename_component(name ${source} NAME_WE)
    get_filename_component(path ${source} ABSOLUTE)
    set(object ${CMAKE_CURRENT_BINARY_DIR}/msvc-mode/${name}.obj)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${QX_MSVC_MODE_CLANG} --target=x86_64-pc-windows-msvc -fgnuc-version=12
              -isystem ${CMAKE_FIND_ROOT_PATH}/include -D__declspec=__declspec
              -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0A00
              -O2 -Wall -Wextra -Werror -MD -MF ${object}.d -c ${path} -o ${object}
      DEPENDS ${path}
      DEPFILE ${object}.d
      COMMENT "Building C object ${name}.obj in Microsoft's mode"
      VERBATIM)
    target_sources(${target} PRIVATE ${object})
  endforeach()
endfunction()
