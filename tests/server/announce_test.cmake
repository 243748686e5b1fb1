# The tests start the built program.
add_dependencies(${target} korvohub)
