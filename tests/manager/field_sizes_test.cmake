# The books against the built korvohub, as another login.
add_dependencies(${target} korvohub)
