add_executable(dialog_test ${CMAKE_CURRENT_LIST_DIR}/DialogTest.cpp)
target_link_libraries(dialog_test PRIVATE tunewick_app GTest::gtest_main)
gtest_discover_tests(dialog_test PROPERTIES LABELS threads)
