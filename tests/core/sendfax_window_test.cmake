# Real windows under Xvfb against the built korvohub; prnstream makes the
# captured print jobs.
# Under a real window manager: the dialogs are placed, sized and resized
# as on a desktop.
korvo_gui_test(${target} WINDOW_MANAGER)
add_dependencies(${target} korvohub prnstream)
target_link_libraries(${target} PRIVATE korvo_sendfax_app korvo_messages)
# GTK's own settings: its animations off, so that screenshots show the end state.
pkg_check_modules(SENDFAX_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
target_link_libraries(${target} PRIVATE PkgConfig::SENDFAX_GTK3)
