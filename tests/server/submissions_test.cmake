# The tests start the built program.
add_dependencies(${target} korvohub)
target_link_libraries(${target} PRIVATE korvo_messages)
