# The per-strum cost of the note analyzer, the chord namer and the note checker.
add_executable(bench_listening_notes ${CMAKE_CURRENT_LIST_DIR}/bench_notes.cpp)
target_link_libraries(bench_listening_notes PRIVATE tunewick_listening benchmark::benchmark)
