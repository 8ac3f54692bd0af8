# Adds each listed folder that has a CMakeLists.txt, so a folder can be started on
# without breaking the configuration of the others.
function(tunewick_add_subdirs)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
