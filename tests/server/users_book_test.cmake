# The tests start the built program.
add_dependencies(${target} korvohub)
# Status texts in the replies come from the server's own table.
target_link_libraries(${target} PRIVATE korvo_messages)
