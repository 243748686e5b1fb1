# Raster from CUPS's own cupsfilter, our built filter, and the stream read
# back through Prn2Tiff and libtiff.
pkg_check_modules(CAPTURE_TEST REQUIRED IMPORTED_TARGET cairo libtiff-4)
add_dependencies(${target} rastertokvf)
target_link_libraries(${target} PRIVATE PkgConfig::CAPTURE_TEST)
