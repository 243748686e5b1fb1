# The tests start the built server; status texts come from the built library.
add_dependencies(${target} korvohub korvocore)
