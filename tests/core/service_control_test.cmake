# "Running" is asked of a real korvohub.
add_dependencies(${target} korvohub)
