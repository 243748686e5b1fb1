// Drawing fax pages into monochrome bitmaps and coding them in modified
// Huffman. Sizes of text are points at the fax's 196 lines per inch.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/bits.h"

namespace korvo {

namespace platform {
class PageSurface;
}

// A rectangle in pixels; right and bottom are outside it.
struct PageRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  // Moves the left edge right by l, the top down by t, the right edge left by
  // r and the bottom up by b.
  PageRect Shrunk(int32_t l, int32_t t, int32_t r, int32_t b) const { return {left + l, top + t, right - r, bottom - b}; }
  // At a/b of the height: the upper part ends at top + a * height / b, the
  // lower part starts one line below that.
  void SplitHeight(int32_t a, int32_t b, PageRect& upper, PageRect& lower) const;
  // The same across, at a/b of the width.
  void SplitWidth(int32_t a, int32_t b, PageRect& leftPart, PageRect& rightPart) const;
  bool operator==(const PageRect&) const = default;
};

enum class TextAlignment { Left, Centre };

class PageRenderer {
 public:
  static constexpr const char* kFontFamily = "Times New Roman";
  static constexpr int32_t kFontWeight = 500;

  // A white bitmap of width x height; Ready() is false when it could not be
  // made.
  PageRenderer(uint32_t width, uint32_t height);
  ~PageRenderer();
  PageRenderer(const PageRenderer&) = delete;
  PageRenderer& operator=(const PageRenderer&) = delete;

  bool Ready() const { return ready_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }

  // The font height in pixels for a size in points: points * 196 / 72.
  static int32_t FontHeight(int32_t points) { return points * 196 / 72; }
  void SetFontSize(int32_t points);

  void FrameRect(const PageRect& rect);
  // Multi-line text from the top of the rectangle, clipped to it. Label texts
  // (`labels` true) follow the menu-prefix convention: "&&" shows as one
  // ampersand. Texts the user typed are drawn as typed.
  void DrawText(std::string_view text, const PageRect& rect, TextAlignment align, bool labels = true);
  // The width in pixels of one line of text drawn as typed (0 when the
  // bitmap could not be made).
  int32_t TextWidth(std::string_view text) const;

  // Codes every row of the bitmap as one fax line into the output, then pads
  // it to a byte. The output holds the page's lines, no RTC.
  void EncodeTo(BitBuffer& output);

  // One row as a fax line: (width + 7) / 8 bytes, most significant bit first,
  // a set bit white (all white when the bitmap could not be made).
  void CopyRow(uint32_t y, uint8_t* out) const;
  bool IsBlack(uint32_t x, uint32_t y) const;

 private:
  std::unique_ptr<platform::PageSurface> surface_;
  uint32_t width_;
  uint32_t height_;
  bool ready_ = false;
};

}  // namespace korvo
