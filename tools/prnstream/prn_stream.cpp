#include "tools/prnstream/prn_stream.h"

#include <algorithm>
#include <cctype>
#include <functional>

#include "common/page_renderer.h"

namespace korvo::tools {

namespace {

constexpr uint32_t kWidth = kStreamLineBytes * 8;
constexpr uint32_t kMargin = 196;      // one inch
constexpr int32_t kLeftMargin = 204;   // one inch
constexpr int32_t kLineStep = 36;      // 12 pt with its leading
constexpr int32_t kTextPoints = 12;

using Fits = std::function<bool(const std::string&)>;

// Where a UTF-8 character starts: not at a continuation byte.
bool StartsCharacter(const std::string& text, size_t at) {
  return at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
}

// The printed lines of one line of text: broken at blanks so that each fits,
// a word wider than a whole line broken where it must be; nothing is lost.
std::vector<std::string> Wrap(const std::string& line, const Fits& fits) {
  std::vector<std::string> out;
  std::string rest = line;
  while (!fits(rest)) {
    size_t cut = 0;
    // The longest run of whole words that fits.
    for (size_t blank = rest.find(' '); blank != std::string::npos; blank = rest.find(' ', blank + 1))
      if (blank > 0 && rest[blank - 1] != ' ') {
        if (!fits(rest.substr(0, blank))) break;
        cut = blank;
      }
    size_t next = cut;
    if (cut == 0) {
      // A word wider than the line: as many characters as fit, at least one.
      cut = 1;
      while (!StartsCharacter(rest, cut)) ++cut;
      for (size_t end = cut + 1; end <= rest.size(); ++end)
        if (StartsCharacter(rest, end)) {
          if (!fits(rest.substr(0, end))) break;
          cut = end;
        }
      next = cut;
    }
    out.push_back(rest.substr(0, cut));
    while (next < rest.size() && rest[next] == ' ') ++next;
    rest.erase(0, next);
    if (rest.empty()) return out;
  }
  out.push_back(rest);
  return out;
}

// Splits the text into printed pages of lines, each line wrapped to fit.
std::vector<std::vector<std::string>> Paginate(const std::string& text, size_t linesPerPage, const Fits& fits) {
  std::vector<std::vector<std::string>> pages(1);
  std::string line;
  auto endLine = [&] {
    for (auto& printed : Wrap(line, fits)) {
      if (pages.back().size() == linesPerPage) pages.emplace_back();
      pages.back().push_back(std::move(printed));
    }
    line.clear();
  };
  for (char c : text) {
    if (c == '\n') {
      endLine();
    } else if (c == '\f') {
      if (!line.empty()) endLine();
      pages.emplace_back();
    } else if (c == '\t') {
      line.append(8 - line.size() % 8, ' ');
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) endLine();
  return pages;
}

// The PBM header reader: numbers separated by whitespace and comments.
struct PbmReader {
  const std::string& s;
  size_t pos = 0;

  void SkipSpace() {
    while (pos < s.size()) {
      if (s[pos] == '#') {
        while (pos < s.size() && s[pos] != '\n') ++pos;
      } else if (std::isspace(static_cast<unsigned char>(s[pos]))) {
        ++pos;
      } else {
        break;
      }
    }
  }
  bool Number(uint32_t& value) {
    SkipSpace();
    if (pos >= s.size() || !std::isdigit(static_cast<unsigned char>(s[pos]))) return false;
    uint64_t v = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) {
      v = v * 10 + static_cast<uint32_t>(s[pos++] - '0');
      if (v > UINT32_MAX) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
  }
};

}  // namespace

uint32_t PageLines(Paper paper) { return paper == Paper::A4 ? kA4Lines : kLetterLines; }

void PrnStreamWriter::BeginDocument(Paper paper) {
  writer_.Word("BD");
  writer_.Word(paper == Paper::A4 ? "A4" : "LT");
}

void PrnStreamWriter::Page(const PageRows& rows) {
  writer_.BeginPage();
  for (size_t at = 0; at + kStreamLineBytes <= rows.size(); at += kStreamLineBytes) writer_.Line(&rows[at]);
  writer_.EndPage();
}

void PrnStreamWriter::EndDocument() { writer_.Word("ED"); }

std::vector<PageRows> RenderTextPages(const std::string& text, uint32_t pageLines) {
  const size_t linesPerPage = pageLines > 2 * kMargin + kLineStep ? (pageLines - 2 * kMargin) / kLineStep : 1;
  std::vector<PageRows> result;
  PageRenderer measure(1, 1);
  measure.SetFontSize(kTextPoints);
  const int32_t room = static_cast<int32_t>(kWidth) - 2 * kLeftMargin;
  const Fits fits = [&](const std::string& line) { return measure.TextWidth(line) <= room; };
  for (const auto& lines : Paginate(text, linesPerPage, fits)) {
    PageRenderer page(kWidth, pageLines);
    page.SetFontSize(kTextPoints);
    int32_t top = static_cast<int32_t>(kMargin);
    for (const auto& line : lines) {
      page.DrawText(line, {kLeftMargin, top, static_cast<int32_t>(kWidth) - kLeftMargin, top + kLineStep},
                    TextAlignment::Left, false);
      top += kLineStep;
    }
    PageRows rows(static_cast<size_t>(kStreamLineBytes) * pageLines);
    for (uint32_t y = 0; y < pageLines; ++y) {
      uint8_t* row = &rows[static_cast<size_t>(y) * kStreamLineBytes];
      page.CopyRow(y, row);
      for (uint32_t i = 0; i < kStreamLineBytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);  // bit 1 black
    }
    result.push_back(std::move(rows));
  }
  return result;
}

bool PbmPages(const std::string& pbm, uint32_t pageLines, std::vector<PageRows>& pages, std::string& error) {
  pages.clear();
  if (pageLines == 0) {
    error = "page length of 0 lines";
    return false;
  }
  if (pbm.size() < 2 || pbm[0] != 'P' || (pbm[1] != '1' && pbm[1] != '4')) {
    error = "not a PBM image (P1 or P4)";
    return false;
  }
  const bool raw = pbm[1] == '4';
  PbmReader in{pbm, 2};
  uint32_t width = 0, height = 0;
  if (!in.Number(width) || !in.Number(height) || width == 0 || height == 0) {
    error = "bad PBM size";
    return false;
  }
  if (width > kWidth) {
    error = "image wider than 1728 pixels";
    return false;
  }
  const size_t stride = (width + 7) / 8;
  std::vector<uint8_t> image;
  if (raw) {
    ++in.pos;  // the one whitespace character after the height
    if (in.pos > pbm.size() || (pbm.size() - in.pos) / stride < height) {
      error = "PBM image data ends early";
      return false;
    }
    image.assign(pbm.begin() + static_cast<std::ptrdiff_t>(in.pos),
                 pbm.begin() + static_cast<std::ptrdiff_t>(in.pos + stride * height));
  } else {
    if (static_cast<uint64_t>(width) * height > pbm.size() - in.pos) {
      error = "PBM image data ends early";
      return false;
    }
    image.assign(stride * height, 0);
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) {
        in.SkipSpace();
        if (in.pos >= pbm.size() || (pbm[in.pos] != '0' && pbm[in.pos] != '1')) {
          error = "PBM image data ends early";
          return false;
        }
        if (pbm[in.pos++] == '1') image[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
  }
  // Bits past the width of each row are not part of the image.
  const uint8_t lastMask = static_cast<uint8_t>(width % 8 ? 0xFF << (8 - width % 8) : 0xFF);
  for (uint32_t y = 0; y < height; y += pageLines) {
    PageRows rows(static_cast<size_t>(kStreamLineBytes) * pageLines, 0);
    for (uint32_t r = 0; r < pageLines && y + r < height; ++r) {
      uint8_t* out = &rows[static_cast<size_t>(r) * kStreamLineBytes];
      std::copy_n(&image[(y + r) * stride], stride, out);
      out[stride - 1] &= lastMask;
    }
    pages.push_back(std::move(rows));
  }
  return true;
}

}  // namespace korvo::tools
