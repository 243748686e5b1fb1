target_link_libraries(${target} PRIVATE korvo_common)
