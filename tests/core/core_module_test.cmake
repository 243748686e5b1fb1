add_dependencies(${target} korvocore)
target_compile_definitions(${target} PRIVATE KORVO_CORE_LIBRARY="$<TARGET_FILE:korvocore>")
target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
