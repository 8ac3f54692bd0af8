# The practice history's commands, over the progress store.
target_sources(tunewick_commands PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ParamJson.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgressCommands.cpp)
target_link_libraries(tunewick_commands PUBLIC tunewick_progress)
