# The built backend run as cupsd runs it, with the agent's model in the test.
add_dependencies(${target} kvf korvocore)
target_compile_definitions(${target} PRIVATE KORVO_CORE_LIBRARY="$<TARGET_FILE:korvocore>")
