# Real windows under Xvfb: the title window.
korvo_gui_test(${target})
target_link_libraries(${target} PRIVATE korvo_launcher_app)
pkg_check_modules(LAUNCHER_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
target_link_libraries(${target} PRIVATE PkgConfig::LAUNCHER_GTK3)
