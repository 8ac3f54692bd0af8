# The web control (the player's FlashControl), its HTTP/WebSocket server, the reporter, the
# browser launch and the command line. A library of its own so that it builds and is tested
# without the dialog, the commands or the audio; the application links it.
add_library(tunewick_web STATIC
  ${CMAKE_CURRENT_LIST_DIR}/BrowserLauncher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HttpSession.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlayerReporter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlayerSession.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RequestPolicy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StaticFiles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Token.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebControl.cpp)
target_include_directories(tunewick_web PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tunewick_web PUBLIC Boost::boost nlohmann_json::nlohmann_json CLI11::CLI11 Threads::Threads)
target_compile_definitions(tunewick_web PRIVATE TUNEWICK_VERSION="${PROJECT_VERSION}")
target_link_libraries(tunewick_app PUBLIC tunewick_web)
# GCC warns that ThreadSanitizer does not model the fences inside Asio; that is Boost's
# code, not ours, and must not fail a warnings-as-errors build under the tsan preset.
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=thread")
  target_compile_options(tunewick_web PUBLIC -Wno-tsan)
endif()
