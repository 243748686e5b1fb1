# Status texts in the replies and log lines come from the server's own table.
target_link_libraries(${target} PRIVATE korvo_messages)
