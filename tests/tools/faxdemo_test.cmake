# Runs the built faxdemo and prnstream against the built korvohub on the
# modem simulator; the fetched fax is decoded with libtiff.
find_package(TIFF REQUIRED)
add_dependencies(${target} korvohub faxdemo prnstream)
target_link_libraries(${target} PRIVATE korvo_common korvo_prnstream TIFF::TIFF)
