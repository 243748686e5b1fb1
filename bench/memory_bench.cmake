# The server's ports and queue in-process; the exchange is the modemsim program.
target_link_libraries(${name} PRIVATE korvo_server korvo_messages korvo_test_support)
add_dependencies(${name} modemsim)
target_compile_definitions(${name} PRIVATE KORVO_MODEMSIM="$<TARGET_FILE:modemsim>")
