# The test runs the built modemsetup.
add_dependencies(${target} modemsetup)
target_link_libraries(${target} PRIVATE korvo_common)
