# Real windows under Xvfb against the built korvohub; prnstream makes the
# captured print jobs.
korvo_gui_test(${target})
add_dependencies(${target} korvohub prnstream)
target_link_libraries(${target} PRIVATE korvo_sendfax_app korvo_messages)
