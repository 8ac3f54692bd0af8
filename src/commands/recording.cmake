# "analyzeRecording" and the compact picture of a take it answers.
target_sources(tunewick_commands PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TakeSummary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AnalyzeRecordingCommand.cpp)
