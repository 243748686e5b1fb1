# The setup wizard's pages without a display.
target_link_libraries(${target} PRIVATE korvo_setup)
