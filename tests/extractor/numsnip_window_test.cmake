# Real windows under Xvfb.
korvo_gui_test(${target})
target_link_libraries(${target} PRIVATE korvo_numsnip_frame)
