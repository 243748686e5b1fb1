# Real dialogs under Xvfb, typed into through XTest; no server.
korvo_gui_test(${target})
target_link_libraries(${target} PRIVATE korvo_manager_app X11 Xtst)
target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/x_keys.cpp)
