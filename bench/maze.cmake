add_executable(bench_maze ${CMAKE_CURRENT_LIST_DIR}/bench_maze.cpp)
target_link_libraries(bench_maze PRIVATE tunewick_maze benchmark::benchmark)
