# The web control, its server and the pieces around it, tested over loopback.
add_executable(web_control_test
  ${CMAKE_CURRENT_LIST_DIR}/WebTestSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebControlTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebSecurityTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebPartsTest.cpp)
target_link_libraries(web_control_test PRIVATE tunewick_web GTest::gtest_main)
gtest_discover_tests(web_control_test PROPERTIES LABELS threads)
