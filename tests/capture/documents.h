// PDF documents printed in the capture tests, drawn with cairo: each page
// carries its number as large text and a black bar across the whole width of
// the paper, so placement on the fax line and the printed text can be seen in
// the pixels.
#pragma once

#include <cairo-pdf.h>
#include <cairo.h>

#include <filesystem>
#include <string>
#include <vector>

namespace korvo::test {

struct Paper {
  const char* name;  // the PPD's PageSize
  double width, height;  // points
  uint32_t faxLines;     // lines at 196 lines per inch
};
inline constexpr Paper kA4{"A4", 595, 842, 2292};
inline constexpr Paper kLetter{"Letter", 612, 792, 2156};
inline constexpr Paper kLegal{"Legal", 612, 1008, 2744};

// The bar runs from 100 to 120 points down the page; the text sits below it.
inline constexpr double kBarTop = 100, kBarBottom = 120;
inline constexpr double kTextTop = 200, kTextBottom = 300;

inline uint32_t Line(double points) { return static_cast<uint32_t>(points * 196 / 72); }

inline void WritePdf(const std::filesystem::path& path, const Paper& paper, const std::vector<std::string>& texts) {
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), paper.width, paper.height);
  cairo_t* cr = cairo_create(surface);
  for (const auto& text : texts) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, 0, kBarTop, paper.width, kBarBottom - kBarTop);
    cairo_fill(cr);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 72);
    cairo_move_to(cr, 72, kTextBottom - 20);
    cairo_show_text(cr, text.c_str());
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

}  // namespace korvo::test
