# qx_include_root(<target> <PUBLIC|INTERFACE> <root> <base> <path>...)
# Gives target the include root <build>/<root>, which holds a link to each path below base, so that a
# target sees exactly those headers and folders under the spelling they have below base.
function(qx_include_root target scope root base)
  set(root_dir ${CMAKE_BINARY_DIR}/${root})
  foreach(path IN LISTS ARGN)
    get_filename_component(parent ${root_dir}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${base}/${path} ${root_dir}/${path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root_dir})
endfunction()
