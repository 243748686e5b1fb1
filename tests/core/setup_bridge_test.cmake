# The engine's messages through the wx bridge to a real window under Xvfb.
korvo_gui_test(${target})
target_link_libraries(${target} PRIVATE korvo_setup_app)
