# This program carries its own message table, as the server and the manager do.
target_link_libraries(${target} PRIVATE korvo_messages)
