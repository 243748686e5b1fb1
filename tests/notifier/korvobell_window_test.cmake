# Real windows under Openbox on Xvfb, docked in a tray host (trayer) the tests
# start; the alert test runs the built korvohub, and the second-start test korvobell.
korvo_gui_test(${target} WINDOW_MANAGER)
add_dependencies(${target} korvohub korvobell)
target_link_libraries(${target} PRIVATE korvo_notifier_app X11)
