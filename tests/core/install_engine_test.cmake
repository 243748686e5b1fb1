# The install engine on media packed by the built szddpack; a private cupsd
# for the printer's steps.
target_link_libraries(${target} PRIVATE korvo_setup)
add_dependencies(${target} szddpack rastertokvf kvf)
