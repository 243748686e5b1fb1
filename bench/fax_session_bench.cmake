# The server's sessions in-process; the exchange runs as the modemsim program,
# so the process's CPU time is the server's alone.
target_link_libraries(${name} PRIVATE korvo_server korvo_messages korvo_test_support)
add_dependencies(${name} modemsim)
target_compile_definitions(${name} PRIVATE KORVO_MODEMSIM="$<TARGET_FILE:modemsim>")
