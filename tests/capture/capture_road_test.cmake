# A private cupsd with the fax printer, the built filter and backend, the
# capture agent's model on real libkorvocore.so, the built agent korvocapture,
# and cairo documents.
pkg_check_modules(CAPTURE_ROAD REQUIRED IMPORTED_TARGET cairo libtiff-4)
add_dependencies(${target} rastertokvf kvf korvocore korvocapture)
target_compile_definitions(${target} PRIVATE KORVO_CORE_LIBRARY="$<TARGET_FILE:korvocore>")
target_link_libraries(${target} PRIVATE PkgConfig::CAPTURE_ROAD)
