# The engine against the modem simulator.
target_link_libraries(${target} PRIVATE korvo_modemsim)
