# The tests start the built server and relay, and a private sshd.
add_dependencies(${target} korvohub korvo-relay)
target_link_libraries(${target} PRIVATE korvo_messages)
add_dependencies(${target} faxdemo prnstream)
# The line test: a simulated exchange and faxdemo's fetch.
target_link_libraries(${target} PRIVATE korvo_modemsim)
