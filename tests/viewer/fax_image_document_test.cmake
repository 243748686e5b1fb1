# Fax files as the Send Fax road makes them, from the print stream source.
target_link_libraries(${target} PRIVATE korvo_prnstream)
