# Real windows under Xvfb: the title window, and the start-up on compressed
# media made from the built programs (scripts/media.sh, the built szddpack),
# whose libkorvocore.so runs the setup wizard; a private cupsd.
korvo_gui_test(${target})
target_link_libraries(${target} PRIVATE korvo_launcher_app)
pkg_check_modules(LAUNCHER_GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
target_link_libraries(${target} PRIVATE PkgConfig::LAUNCHER_GTK3)
add_dependencies(${target} szddpack ${korvo_media_targets})
target_link_libraries(${target} PRIVATE X11)
