target_sources(tunewick_commands PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/NavigationCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AudioCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PitchCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChordCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListeningCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ExitCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageUnloadHandler.cpp)
# The chord listener's and the practice session's commands.
target_link_libraries(tunewick_commands PUBLIC tunewick_listening tunewick_practice)
