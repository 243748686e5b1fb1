# The tests start the built program, and give it simulated modems.
add_dependencies(${target} korvohub)
target_link_libraries(${target} PRIVATE korvo_messages korvo_modemsim)
