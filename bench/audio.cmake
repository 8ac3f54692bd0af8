# The per-block work of the recognizer and the tuner.
add_executable(bench_audio ${CMAKE_CURRENT_LIST_DIR}/bench_audio.cpp)
target_link_libraries(bench_audio PRIVATE tunewick_audio benchmark::benchmark)
