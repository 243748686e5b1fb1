# Carries its own message table, as the server does.
target_link_libraries(${name} PRIVATE korvo_messages)
