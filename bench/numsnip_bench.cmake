# The extractor's work without its window.
target_link_libraries(${name} PRIVATE korvo_numsnip)
