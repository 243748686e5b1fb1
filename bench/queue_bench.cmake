# The queue lives in the server library.
target_link_libraries(${name} PRIVATE korvo_server)
