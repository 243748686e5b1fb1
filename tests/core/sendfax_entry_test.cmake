# The entry point in a program without the toolkit: a private Xvfb of its own
# (not the GUI test main, which would start wx first), the built korvohub and
# prnstream.
add_dependencies(${target} korvohub prnstream)
target_link_libraries(${target} PRIVATE korvo_sendfax_app korvo_gui_test_support korvo_messages)
