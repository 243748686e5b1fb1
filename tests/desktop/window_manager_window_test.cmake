korvo_gui_test(${target})
