# The setup wizard's model without a display.
target_link_libraries(${target} PRIVATE korvo_setup)
