#include "platform/page_surface.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <cstring>

#include "platform/utf8.h"

// Under the leak checker: cairo keeps the fontconfig configuration and the
// patterns of its font cache for the life of the process, in a form the
// checker does not see as reachable. Every program that draws pages links
// this file, so each gets the suppression. Weak, so that a program with a
// longer list of its own (the GUI tests) replaces it.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace korvo::platform {

namespace {

// Ink is drawn as alpha into an A1 surface, so that every pixel is either
// black or white and text is rasterised without grey edges. cairo packs A1
// pixels into native-endian 32-bit words; on this little-endian platform the
// first pixel of a byte is its least significant bit.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "A1 rows are read as lsb-first bytes");

uint8_t Reverse(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// The text as shown: "&&" is one ampersand, a lone '&' is dropped.
std::string StripPrefixes(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      shown += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '&') {
      shown += '&';
      ++i;
    }
  }
  return shown;
}


}  // namespace

PageSurface::PageSurface(int32_t width, int32_t height) : width_(width), height_(height) {
  if (width <= 0 || height <= 0) return;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A1, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return;
  }
  cairo_t* cr = cairo_create(s);
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return;
  }
  surface_ = s;
  cr_ = cr;
  // A new image surface is cleared: no ink anywhere, a white page.
  cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
  cairo_set_source_rgba(cr_, 0, 0, 0, 1);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr_, options);
  cairo_font_options_destroy(options);
}

PageSurface::~PageSurface() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) cairo_surface_destroy(surface_);
}

void PageSurface::SelectFont(const std::string& family, int32_t emPixels, int32_t weight) {
  if (!cr_) return;
  cairo_select_font_face(cr_, family.c_str(), CAIRO_FONT_SLANT_NORMAL,
                         weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_, emPixels);
  cairo_font_extents_t extents;
  cairo_font_extents(cr_, &extents);
  ascent_ = std::round(extents.ascent);
  descent_ = std::round(extents.descent);
}

int32_t PageSurface::LineHeight() const { return static_cast<int32_t>(ascent_ + descent_); }

void PageSurface::FrameRect(const SurfaceRect& r) {
  if (!cr_ || r.right <= r.left || r.bottom <= r.top) return;
  const double w = r.right - r.left;
  const double h = r.bottom - r.top;
  cairo_rectangle(cr_, r.left, r.top, w, 1);
  cairo_rectangle(cr_, r.left, r.bottom - 1, w, 1);
  cairo_rectangle(cr_, r.left, r.top, 1, h);
  cairo_rectangle(cr_, r.right - 1, r.top, 1, h);
  cairo_fill(cr_);
}

void PageSurface::DrawText(std::string_view text, const SurfaceRect& r, TextAlign align, bool prefixes) {
  if (!cr_ || r.right <= r.left || r.bottom <= r.top) return;
  cairo_save(cr_);
  cairo_rectangle(cr_, r.left, r.top, r.right - r.left, r.bottom - r.top);
  cairo_clip(cr_);
  double baseline = r.top + ascent_;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    // cairo draws UTF-8 only, and a text that is not puts the whole context
    // out of use, so nothing after it would be drawn.
    const std::string line = ValidUtf8(prefixes ? StripPrefixes(text.substr(start, end - start))
                                                : std::string(text.substr(start, end - start)));
    if (!line.empty()) {
      double x = r.left;
      if (align == TextAlign::Centre) {
        cairo_text_extents_t extents;
        cairo_text_extents(cr_, line.c_str(), &extents);
        x = r.left + std::floor((r.right - r.left - extents.x_advance) / 2);
      }
      cairo_move_to(cr_, x, baseline);
      cairo_show_text(cr_, line.c_str());
    }
    baseline += ascent_ + descent_;
    start = end + 1;
  }
  cairo_restore(cr_);
}

int32_t PageSurface::TextWidth(std::string_view text) const {
  if (!cr_ || text.empty()) return 0;
  cairo_text_extents_t extents;
  cairo_text_extents(cr_, ValidUtf8(text).c_str(), &extents);
  return static_cast<int32_t>(std::ceil(extents.x_advance));
}

const uint8_t* PageSurface::Row(int32_t y) const {
  cairo_surface_flush(surface_);
  return cairo_image_surface_get_data(surface_) + static_cast<size_t>(y) * cairo_image_surface_get_stride(surface_);
}

void PageSurface::CopyRow(int32_t y, uint8_t* out) const {
  const int32_t bytes = (width_ + 7) / 8;
  if (!cr_ || y < 0 || y >= height_) {
    std::memset(out, 0xFF, static_cast<size_t>(bytes));
    return;
  }
  const uint8_t* row = Row(y);
  for (int32_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(~Reverse(row[i]));
  if (width_ % 8 != 0) out[bytes - 1] |= static_cast<uint8_t>(0xFF >> (width_ % 8));
}

bool PageSurface::IsBlack(int32_t x, int32_t y) const {
  if (!cr_ || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  return (Row(y)[x / 8] >> (x % 8)) & 1;
}

std::string MatchFontFamily(const std::string& family) {
  std::string found;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
  if (!pattern) return found;
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcChar8* name = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch)
    found = reinterpret_cast<const char*>(name);
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return found;
}

bool WritePagePng(const std::string& path, const uint8_t* rows, int32_t width, int32_t height, uint32_t stride) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return false;
  }
  cairo_surface_flush(s);
  uint8_t* data = cairo_image_surface_get_data(s);
  const int pixelStride = cairo_image_surface_get_stride(s);
  for (int32_t y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * pixelStride);
    const uint8_t* in = rows + static_cast<size_t>(y) * stride;
    for (int32_t x = 0; x < width; ++x) out[x] = (in[x / 8] & (0x80 >> (x % 8))) ? 0xFFFFFFu : 0u;
  }
  cairo_surface_mark_dirty(s);
  const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

}  // namespace korvo::platform
