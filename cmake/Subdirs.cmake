# Adds each listed folder. A folder without a CMakeLists.txt stops the configure with its
# name: a piece that is missing must never be left out quietly.
function(tunewick_add_subdirs)
  foreach(dir IN LISTS ARGN)
    set(list_file ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    if(NOT EXISTS ${list_file})
      message(FATAL_ERROR "tunewick_add_subdirs: ${list_file} is missing")
    endif()
    add_subdirectory(${dir})
  endforeach()
endfunction()
