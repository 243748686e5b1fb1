# The viewer's document and drawing, without windows.
target_link_libraries(${name} PRIVATE korvo_viewer)
