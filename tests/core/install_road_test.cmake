# The programs and the printer's files packed by the built szddpack; a
# private cupsd.
add_dependencies(${target} szddpack rastertokvf kvf korvocapture korvohub)
