# The tests start the built program and run the modem simulator beside it.
add_dependencies(${target} korvohub)
target_link_libraries(${target} PRIVATE korvo_modemsim)
