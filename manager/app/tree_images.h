// The tree's images: five 16 x 16 pictures side by side, magenta (#FF00FF)
// marking the transparent pixels. Nodes use image 3, and 4 when selected.
#pragma once

// clang-format off
static const char* const kTreeImagesXpm[] = {
"80 16 8 1",
"m c #FF00FF",
"k c #000000",
"g c #C0C0C0",
"b c #3050A0",
"w c #FFFFFF",
"y c #F0D060",
"Y c #F8E890",
"d c #806010",
"mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm",
"mmmmmmmmmmmmmmmmmmmkkkkkkkkkkmmmmmmkkkkkkkkkkmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm",
"mmkkkkkkkkkkkkmmmmmkwwwwwwwwkmmmmmmkbbbbbbbbkmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm",
"mmkggggggggggkmmmmmkwwwwwwwwkmmmmmmkbwbbbbbbkmmmmddddddmmmmmmmmmmddddddmmmmmmmmm",
"mmkgbbbbbbbbgkmmmmmkwkkkkkkwkmmmmmmkbwbbbbbbkmmmmddddddmmmmmmmmmmddddddmmmmmmmmm",
"mmkgbbbbbbbbgkmmmmmkwwwwwwwwkmmmmmmkbwbbbbbbkmmmmddddddddddddddmmddddddddddddmmm",
"mmkgbbbbbbbbgkmmmmmkwwwwwwwwkmmmmmmkbwbbbbbbkmmmmdyyyyyyyyyyyydmmdyyyyyyyyyydmmm",
"mmkgbbbbbbbbgkmmmmmkwkkkkkkwkmmmmmmkbwbbbbbbkmmmmdyyyyyyyyyyyydmmdyyyyyyyyyydmmm",
"mmkgbbbbbbbbgkmmmmmkwwwwwwwwkmmmmmmkbwbbbbbbkmmmmdyyyyyyyyyyyydmmdYddddddddddddd",
"mmkggggggggggkmmmmmkwwwwwwwwkmmmmmmkbwbbbbbbkmmmmdyyyyyyyyyyyydmmdyYYYYYYYYYdYYm",
"mmkkkkkkkkkkkkmmmmmkwkkkkkkwkmmmmmmkbwbbbbbbkmmmmdyyyyyyyyyyyydmmdyyYYYYYYYYdYYm",
"mmmmmkkkkkkmmmmmmmmkwwwwwwwwkmmmmmmkbwbbbbbbkmmmmdyyyyyyyyyyyydmmdyyyYYYYYYYdYYY",
"mmmmmkkkkkkmmmmmmmmkwwwwwwwwkmmmmmmkbwbbbbbbkmmmmdyyyyyyyyyyyydmmdyyyyYYYYYYdYYY",
"mmmkkkkkkkkkkmmmmmmkwwwwwwwwkmmmmmmkbbbbbbbbkmmmmddddddddddddddmmddddddddddddYYY",
"mmmmmmmmmmmmmmmmmmmkkkkkkkkkkmmmmmmkkkkkkkkkkmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm",
"mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm"
};
// clang-format on
