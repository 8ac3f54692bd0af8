# Listening in time: the onset detector's cost per second of live input.
add_executable(bench_listening ${CMAKE_CURRENT_LIST_DIR}/bench_listening.cpp)
target_link_libraries(bench_listening PRIVATE tunewick_listening benchmark::benchmark)

# ... and how soon it tells each onset of a sound file fed a hop at a time (onset_benchmark.py
# --report-delay reads it).
add_executable(bench_onset_delay ${CMAKE_CURRENT_LIST_DIR}/listening/onset_delay.cpp)
target_link_libraries(bench_onset_delay PRIVATE tunewick_listening)
