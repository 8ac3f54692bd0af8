# The per-block work of the recognizer and the tuner.
add_executable(bench_audio ${CMAKE_CURRENT_LIST_DIR}/bench_audio.cpp)
target_link_libraries(bench_audio PRIVATE tunewick_audio benchmark::benchmark)
# The live listeners' answer times and CPU share, at real-time pace.
add_executable(bench_live ${CMAKE_CURRENT_LIST_DIR}/bench_live.cpp)
target_include_directories(bench_live PRIVATE ${PROJECT_SOURCE_DIR}/tests/audio/listening)
target_link_libraries(bench_live PRIVATE tunewick_practice tunewick_audio_test_support benchmark::benchmark)
