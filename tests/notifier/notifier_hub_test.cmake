# The tests run the built korvohub on the modem simulator.
add_dependencies(${target} korvohub)
target_link_libraries(${target} PRIVATE korvo_modemsim)
