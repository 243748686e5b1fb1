# Runs real programs (a probe of the shared code, and the viewer) on the
# test's display and ends them with signals.
korvo_gui_test(${target})
add_executable(desktop_session_end_probe ${CMAKE_CURRENT_SOURCE_DIR}/session_end_probe.cpp)
target_link_libraries(desktop_session_end_probe PRIVATE korvo_desktop)
add_dependencies(${target} desktop_session_end_probe korvolens)
target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/x_windows.cpp)
target_link_libraries(${target} PRIVATE X11)
