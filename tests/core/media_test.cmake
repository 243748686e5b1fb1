# The test makes media from the built programs and packs them.
add_dependencies(${target} szddpack ${korvo_media_targets})
