# The setup wizard's windows under Xvfb, the engine's messages sent by the test.
korvo_gui_test(${target})
target_link_libraries(${target} PRIVATE korvo_setup_app)
pkg_check_modules(SETUP_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
target_link_libraries(${target} PRIVATE PkgConfig::SETUP_GTK3)
