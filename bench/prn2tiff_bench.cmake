# The ten-page job comes from the print stream source.
target_link_libraries(${name} PRIVATE korvo_prnstream)
