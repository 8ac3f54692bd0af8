target_sources(tunewick_commands PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/NavigationCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AudioCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PitchCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChordCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExitCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageUnloadHandler.cpp)
