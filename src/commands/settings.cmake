# The settings commands, over the settings store.
target_sources(tunewick_commands PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SettingsCommands.cpp)
target_link_libraries(tunewick_commands PUBLIC tunewick_settings)
