# Capture engine, capture devices (scripted, WAV file), WAV writer and recorder.
target_sources(tunewick_audio PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CaptureDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CaptureRing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CaptureEngine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScriptedCaptureDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WavFileCaptureDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WaveFileWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WavRecorder.cpp)
target_link_libraries(tunewick_audio PUBLIC PkgConfig::SNDFILE PkgConfig::SOXR)
