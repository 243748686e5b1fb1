# The clients talk to the built korvohub, started as a program of its own.
target_link_libraries(${name} PRIVATE korvo_messages)
add_dependencies(${name} korvohub)
target_compile_definitions(${name} PRIVATE KORVO_HUB="$<TARGET_FILE:korvohub>")
