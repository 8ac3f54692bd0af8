# Tests of the spectral primitives, the recognizer and the tuner. Half of them run capture
# threads, so the whole executable carries the label the ThreadSanitizer preset runs.
add_executable(audio_analysis_test
  ${CMAKE_CURRENT_LIST_DIR}/analysis/AnalysisSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/analysis/TestSignals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/analysis/FourierAnalysisTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/analysis/DecisionTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/analysis/DiagnosticFilesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/analysis/RecognizerEngineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/analysis/TunerEngineTest.cpp)
target_include_directories(audio_analysis_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/analysis)
target_link_libraries(audio_analysis_test PRIVATE tunewick_audio GTest::gtest_main)
gtest_discover_tests(audio_analysis_test PROPERTIES LABELS threads)
