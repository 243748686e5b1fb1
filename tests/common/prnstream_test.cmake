# The print stream source: its library, and the program the tests run.
target_link_libraries(${target} PRIVATE korvo_prnstream)
add_dependencies(${target} prnstream)
target_compile_definitions(${target} PRIVATE KORVO_PRNSTREAM="$<TARGET_FILE:prnstream>")
