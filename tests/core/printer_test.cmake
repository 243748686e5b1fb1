# The fax printer's files packed by the built szddpack, installed into a
# private cupsd's ServerBin.
add_dependencies(${target} szddpack rastertokvf kvf)
