# The spectral primitives, the diagnostic files, the note recognizer and the string tuner.
target_sources(tunewick_audio PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FourierAnalysis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DiagnosticFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AnalysingEngine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NoteRecognizer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StringTuner.cpp)
