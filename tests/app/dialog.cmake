add_executable(dialog_test ${CMAKE_CURRENT_LIST_DIR}/DialogTest.cpp)
target_link_libraries(dialog_test PRIVATE tunewick_app tunewick_audio_test_support GTest::gtest_main)
gtest_discover_tests(dialog_test PROPERTIES LABELS threads)
