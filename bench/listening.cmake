# Listening in time: the onset detector's cost per second of live input.
add_executable(bench_listening ${CMAKE_CURRENT_LIST_DIR}/bench_listening.cpp)
target_link_libraries(bench_listening PRIVATE tunewick_listening benchmark::benchmark)
