# The list view in a real window under Xvfb, over a list from the built korvohub.
korvo_gui_test(${target})
add_dependencies(${target} korvohub)
target_link_libraries(${target} PRIVATE korvo_manager_wx)
