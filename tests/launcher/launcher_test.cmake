# Copies the stand-in setup library as libkorvocore.so into its folders.
add_dependencies(${target} launcher_fake_core)
target_compile_definitions(${target} PRIVATE KORVO_FAKE_CORE="$<TARGET_FILE:launcher_fake_core>")
