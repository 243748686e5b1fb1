target_link_libraries(${name} PRIVATE korvo_server)
