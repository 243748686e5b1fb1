# The tests start the built server.
add_dependencies(${target} korvohub)
