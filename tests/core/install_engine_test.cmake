# The install engine on media packed by the built szddpack; a private cupsd
# for the printer's steps; the built server and relay installed for a
# remote client over a private sshd.
target_link_libraries(${target} PRIVATE korvo_setup)
add_dependencies(${target} szddpack rastertokvf kvf korvohub korvo-relay)
