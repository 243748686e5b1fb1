// Monochrome page bitmaps to draw fax pages into: a cairo image surface with
// fontconfig fonts, offering the few drawing operations the pages need with
// the pixel rules of the Windows design (rectangles exclude their right and
// bottom edges; frames are one pixel wide, inside the rectangle).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace korvo::platform {

struct SurfaceRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;   // exclusive
  int32_t bottom = 0;  // exclusive
};

enum class TextAlign { Left, Centre };

class PageSurface {
 public:
  // An all-white bitmap; Ready() is false when it could not be made (a size
  // of 0 or beyond what the surface takes, or no memory).
  PageSurface(int32_t width, int32_t height);
  ~PageSurface();
  PageSurface(const PageSurface&) = delete;
  PageSurface& operator=(const PageSurface&) = delete;

  bool Ready() const { return cr_ != nullptr; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

  // Selects the font for text: the family as fontconfig resolves it, the em
  // height in pixels, a weight from 100 to 900 (600 and above is bold).
  void SelectFont(const std::string& family, int32_t emPixels, int32_t weight);
  // The height of one text line of the selected font (ascent + descent).
  int32_t LineHeight() const;

  // A one-pixel black frame along the inside of the rectangle.
  void FrameRect(const SurfaceRect& rect);
  // Black text, one line per '\n', each line aligned on its own, from the top
  // of the rectangle and clipped to it. With `prefixes`, "&&" shows as one
  // ampersand and a lone '&' is not shown (the menu-prefix convention of
  // label texts); without, the text is drawn as given.
  void DrawText(std::string_view text, const SurfaceRect& rect, TextAlign align, bool prefixes);
  // How far one line of text (drawn as given) advances in the selected font.
  int32_t TextWidth(std::string_view text) const;

  // One row as a fax line: (width + 7) / 8 bytes, most significant bit first, a set
  // bit white.
  void CopyRow(int32_t y, uint8_t* out) const;
  // True when the pixel is black.
  bool IsBlack(int32_t x, int32_t y) const;

 private:
  const uint8_t* Row(int32_t y) const;

  int32_t width_;
  int32_t height_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  double ascent_ = 0;
  double descent_ = 0;
};

// The family fontconfig picks for a requested one ("Times New Roman" is
// Liberation Serif here); empty when nothing matches.
std::string MatchFontFamily(const std::string& family);

// Writes rows of a 1-bit page (most significant bit first, a set bit white,
// `stride` bytes a row) as a PNG image, for a person to look at. False when
// the file cannot be written.
bool WritePagePng(const std::string& path, const uint8_t* rows, int32_t width, int32_t height, uint32_t stride);

}  // namespace korvo::platform
