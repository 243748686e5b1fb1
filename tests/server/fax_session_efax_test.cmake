# Calls between the server's ports and efax through the modem simulator.
find_package(TIFF REQUIRED)
target_link_libraries(${target} PRIVATE korvo_modemsim TIFF::TIFF)
