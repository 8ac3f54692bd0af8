# The maze generator and its random source stand alone (no bridge), so the benchmark and the
# tests can link them without the rest of the commands library.
add_library(tunewick_maze OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/RandomSource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MazeGenerator.cpp)
target_include_directories(tunewick_maze PUBLIC ${PROJECT_SOURCE_DIR}/src)

# The "generateMaze" command needs only the bridge's values. (Objects of an object library
# reach only the targets that link it directly: consumers link both.)
add_library(tunewick_maze_command OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/GenerateMazeCommand.cpp)
target_link_libraries(tunewick_maze_command PUBLIC tunewick_maze tunewick_bridge)

target_sources(tunewick_commands PRIVATE
  $<TARGET_OBJECTS:tunewick_maze>
  $<TARGET_OBJECTS:tunewick_maze_command>)
