# The picture at the setup wizard's left, compiled into korvo_setup_app from
# our own PNG (core/setup/app/wizard_bitmap.h in the build tree).
korvo_png_header(${CMAKE_CURRENT_BINARY_DIR}/core/setup/app/wizard_bitmap.h kBitmap147Png
                 ${CMAKE_CURRENT_SOURCE_DIR}/app/bitmap147.png)
target_include_directories(korvo_setup_app PUBLIC ${CMAKE_CURRENT_BINARY_DIR})
