# The Send Fax models against the built korvohub; prnstream makes the
# captured print jobs.
add_dependencies(${target} korvohub prnstream)
target_link_libraries(${target} PRIVATE korvo_sendfax korvo_messages)
