# Runs the built faxdemo and prnstream against the built korvohub on the
# modem simulator; the fetched fax is decoded with libtiff.
find_package(TIFF REQUIRED)
add_dependencies(${target} korvohub korvocore faxdemo prnstream)
# As scripts/run.sh sets it up: status texts come from the built library.
target_compile_definitions(${target} PRIVATE KORVO_CORE_LIBRARY="$<TARGET_FILE:korvocore>")
target_link_libraries(${target} PRIVATE korvo_common korvo_prnstream TIFF::TIFF)
