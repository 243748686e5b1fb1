# The boxes in real windows under Xvfb, against the built korvohub on the
# simulated line, with faxdemo sending the first fax.
korvo_gui_test(${target})
add_dependencies(${target} korvohub korvocore faxdemo)
target_link_libraries(${target} PRIVATE korvo_manager_app korvo_modemsim korvo_common)
