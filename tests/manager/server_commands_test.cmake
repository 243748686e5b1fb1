# The tests start the built server and read its status texts from the built library.
add_dependencies(${target} korvohub korvocore)
