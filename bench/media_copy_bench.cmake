# KvCopy from the installation library; the media packed by the built szddpack.
target_link_libraries(${name} PRIVATE korvo_install)
add_dependencies(${name} szddpack)
target_compile_definitions(${name} PRIVATE KORVO_SZDDPACK="$<TARGET_FILE:szddpack>")
