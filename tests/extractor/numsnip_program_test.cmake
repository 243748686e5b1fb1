# Runs the built program on the test's display and looks for its window there.
korvo_gui_test(${target})
add_dependencies(${target} numsnip)
target_link_libraries(${target} PRIVATE X11)
