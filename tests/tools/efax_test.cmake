# Decodes the pages efax received.
find_package(TIFF REQUIRED)
target_link_libraries(${target} PRIVATE TIFF::TIFF)
