# The microphone path: resampling and hand-over costs (Google Benchmark), and capture_soak,
# an instrumented run on a private sound server (latency of the block step, xruns, memory).
add_executable(bench_portaudio ${CMAKE_CURRENT_LIST_DIR}/bench_portaudio.cpp)
target_link_libraries(bench_portaudio PRIVATE tunewick_audio benchmark::benchmark)
if(TARGET tunewick_sound_test_support)
  add_executable(capture_soak ${CMAKE_CURRENT_LIST_DIR}/capture_soak.cpp)
  target_link_libraries(capture_soak PRIVATE tunewick_sound_test_support)
endif()
