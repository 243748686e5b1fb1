# cmake --install of the built printer files, staged with DESTDIR.
add_dependencies(${target} rastertokvf kvf korvocapture)
target_compile_definitions(${target} PRIVATE KORVO_CMAKE="${CMAKE_COMMAND}")
