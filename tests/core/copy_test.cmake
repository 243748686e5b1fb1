# The media are packed with the built szddpack (and mscompress).
add_dependencies(${target} szddpack)
