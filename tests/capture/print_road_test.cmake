# Under the GUI test main's Xvfb: a private cupsd with the built filter and
# backend, the capture agent on the real libkorvocore.so (whose Send Fax
# dialog shares the test's toolkit), and a real korvohub on the modem
# simulator.
korvo_gui_test(${target})
pkg_check_modules(PRINT_ROAD REQUIRED IMPORTED_TARGET cairo libtiff-4)
add_dependencies(${target} rastertokvf kvf korvocore korvohub)
target_compile_definitions(${target} PRIVATE KORVO_CORE_LIBRARY="$<TARGET_FILE:korvocore>")
target_link_libraries(${target} PRIVATE korvo_modemsim PkgConfig::PRINT_ROAD)
