# The capture engine, its devices, the WAV writer and the recorder.
add_executable(audio_engine_test
  ${CMAKE_CURRENT_LIST_DIR}/engine/CaptureEngineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine/WaveFileWriterTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine/WavRecorderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine/WavFileCaptureDeviceTest.cpp)
target_link_libraries(audio_engine_test PRIVATE tunewick_audio GTest::gtest_main)
gtest_discover_tests(audio_engine_test PROPERTIES LABELS threads DISCOVERY_TIMEOUT 60)
