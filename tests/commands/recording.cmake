add_executable(recording_command_test ${CMAKE_CURRENT_LIST_DIR}/TakeSummaryTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AnalyzeRecordingCommandTest.cpp)
target_link_libraries(recording_command_test PRIVATE tunewick_commands GTest::gtest_main)
gtest_discover_tests(recording_command_test PROPERTIES LABELS threads)
