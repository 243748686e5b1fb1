# Dispatch and forward as other logins, against the built korvohub on the
# simulated line, with faxdemo sending the fax that comes in.
add_dependencies(${target} korvohub korvocore faxdemo)
target_link_libraries(${target} PRIVATE korvo_modemsim korvo_common)
