# The server in-process, with its own message table.
target_link_libraries(${name} PRIVATE korvo_server korvo_messages)
