korvo_gui_test(${target})
target_link_libraries(${target} PRIVATE korvo_viewer_app ${CMAKE_DL_LIBS})
