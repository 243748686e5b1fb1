# KorvoDesk's server lists and their dialogs under Xvfb, against the built
# korvohub on simulated modems.
korvo_gui_test(${target})
add_dependencies(${target} korvohub korvocore)
target_link_libraries(${target} PRIVATE korvo_manager_app korvo_modemsim korvo_common)
