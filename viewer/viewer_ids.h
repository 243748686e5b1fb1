// Command and control identifiers of the viewer, with the numbers the
// framework of the original program gave them.
#pragma once

#include <cstdint>

#include "desktop/command_id.h"

namespace korvo::viewer_id {

// Document commands.
inline constexpr int32_t kNextPage = 32771;
inline constexpr int32_t kPreviousPage = 32772;
inline constexpr int32_t kFirstPage = 32773;
inline constexpr int32_t kLastPage = 32774;
inline constexpr int32_t kGoToPage = 32775;
inline constexpr int32_t kZoom25 = 32780;
inline constexpr int32_t kZoom300 = 32785;
inline constexpr int32_t kRotateLeft = 32786;
inline constexpr int32_t kRotateRight = 32787;
inline constexpr int32_t kFlip = 32788;
inline constexpr int32_t kSaveZoom = 32807;

// Framework commands.
inline constexpr int32_t kFileOpen = 57601;
inline constexpr int32_t kFilePrintSetup = 57606;
inline constexpr int32_t kFilePrint = 57607;
inline constexpr int32_t kFilePrintPreview = 57609;
inline constexpr int32_t kFileMru1 = 57616;  // to 57619
inline constexpr int32_t kAppAbout = 57664;
inline constexpr int32_t kAppExit = 57665;
inline constexpr int32_t kViewToolbar = 59392;
inline constexpr int32_t kViewStatusBar = 59393;

// Windows and controls.
inline constexpr int32_t kAboutDialog = 100;
inline constexpr int32_t kPageBox = 101;
inline constexpr int32_t kAboutVersion = 103;
inline constexpr int32_t kMainResource = 128;
inline constexpr int32_t kGoToDialog = 130;
inline constexpr int32_t kGoToNumber = 1000;
inline constexpr int32_t kPagePane = 59142;
inline constexpr int32_t kZoomPane = 59143;
inline constexpr int32_t kToolBar = 59392;
inline constexpr int32_t kStatusBar = 59393;

}  // namespace korvo::viewer_id
