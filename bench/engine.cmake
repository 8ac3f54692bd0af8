# The recorder's path: writer, block step, file conversion.
add_executable(bench_engine ${CMAKE_CURRENT_LIST_DIR}/bench_engine.cpp)
target_link_libraries(bench_engine PRIVATE tunewick_audio_test_support benchmark::benchmark)
