# The queue and the modem subsystem of the server, over simulated modems.
target_link_libraries(${name} PRIVATE korvo_server)
