# The test loads the built libkorvocore.so.
add_dependencies(${target} korvocore)
target_compile_definitions(${target} PRIVATE KORVO_CORE_LIBRARY="$<TARGET_FILE:korvocore>")
