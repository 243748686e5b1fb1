# The port functions linked in (with a recording Send Fax entry point of the
# test's own) against a private cupsd with the fax printer.
add_dependencies(${target} rastertokvf kvf)
target_link_libraries(${target} PRIVATE korvo_ports)
