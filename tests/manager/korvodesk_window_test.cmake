# KorvoDesk's windows under Xvfb against the built korvohub; one test runs
# the built korvodesk itself.
korvo_gui_test(${target} WINDOW_MANAGER)
add_dependencies(${target} korvohub korvocore korvodesk)
target_link_libraries(${target} PRIVATE korvo_manager_app X11)
target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/x_window.cpp)
