korvo_gui_test(${target} WINDOW_MANAGER)
