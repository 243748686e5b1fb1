# Calls through the modem simulator; received pages are decoded with libtiff.
find_package(TIFF REQUIRED)
target_link_libraries(${target} PRIVATE korvo_modemsim TIFF::TIFF)
