target_sources(tunewick_app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CtunewickDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CtunewickApp.cpp)

add_executable(tunewick ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(tunewick PRIVATE tunewick_app)
add_dependencies(tunewick tunewick_assets)
