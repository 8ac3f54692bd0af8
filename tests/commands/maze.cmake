add_executable(maze_test
  ${CMAKE_CURRENT_LIST_DIR}/RandomSourceTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MazeGeneratorTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MazeShapeTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GenerateMazeCommandTest.cpp)
target_include_directories(maze_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(maze_test PRIVATE tunewick_maze tunewick_maze_command GTest::gtest_main Threads::Threads)
# Only the concurrent draws need the ThreadSanitizer run; the rest would only slow it down.
gtest_discover_tests(maze_test TEST_FILTER "CrtRandomSourceThreads.*" PROPERTIES LABELS threads)
gtest_discover_tests(maze_test TEST_FILTER "-CrtRandomSourceThreads.*")
