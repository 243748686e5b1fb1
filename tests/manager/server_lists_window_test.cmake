# KorvoDesk's server lists and their dialogs under Xvfb, against the built
# korvohub on simulated modems.
korvo_gui_test(${target})
add_dependencies(${target} korvohub korvocore)
target_link_libraries(${target} PRIVATE korvo_manager_app korvo_modemsim korvo_common)
# GTK's settings, to turn its animations off: a screenshot shows a control's
# new state, not a fade on its way there.
pkg_check_modules(KORVO_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
target_link_libraries(${target} PRIVATE PkgConfig::KORVO_GTK3)
