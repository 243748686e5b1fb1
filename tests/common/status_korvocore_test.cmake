# This program has no message table of its own; it finds texts in the built
# libkorvocore.so through the registry.
add_dependencies(${target} korvocore)
target_compile_definitions(${target} PRIVATE KORVO_CORE_LIBRARY="$<TARGET_FILE:korvocore>")
