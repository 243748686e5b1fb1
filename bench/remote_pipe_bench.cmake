# A real korvohub, the relay behind a private sshd (needs root), and the
# test tree's sshd helper.
target_link_libraries(${name} PRIVATE korvo_messages)
add_dependencies(${name} korvohub korvo-relay)
target_compile_definitions(${name} PRIVATE KORVO_HUB="$<TARGET_FILE:korvohub>" KORVO_RELAY="$<TARGET_FILE:korvo-relay>")
