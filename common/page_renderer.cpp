#include "common/page_renderer.h"

#include <cstring>

#include "common/huffman.h"
#include "platform/page_surface.h"

namespace korvo {

namespace {

platform::SurfaceRect ToSurface(const PageRect& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

void PageRect::SplitHeight(int32_t a, int32_t b, PageRect& upper, PageRect& lower) const {
  const int32_t line = top + a * (bottom - top) / b;
  const PageRect whole = *this;
  upper = {whole.left, whole.top, whole.right, line};
  lower = {whole.left, line + 1, whole.right, whole.bottom};
}

void PageRect::SplitWidth(int32_t a, int32_t b, PageRect& leftPart, PageRect& rightPart) const {
  const int32_t column = left + a * (right - left) / b;
  const PageRect whole = *this;
  leftPart = {whole.left, whole.top, column, whole.bottom};
  rightPart = {column + 1, whole.top, whole.right, whole.bottom};
}

PageRenderer::PageRenderer(uint32_t width, uint32_t height) : width_(width), height_(height) {
  if (width > INT32_MAX || height > INT32_MAX) return;
  surface_ = std::make_unique<platform::PageSurface>(static_cast<int32_t>(width), static_cast<int32_t>(height));
  ready_ = surface_->Ready();
}

PageRenderer::~PageRenderer() = default;

void PageRenderer::SetFontSize(int32_t points) {
  if (ready_) surface_->SelectFont(kFontFamily, FontHeight(points), kFontWeight);
}

void PageRenderer::FrameRect(const PageRect& rect) {
  if (ready_) surface_->FrameRect(ToSurface(rect));
}

void PageRenderer::DrawText(std::string_view text, const PageRect& rect, TextAlignment align, bool labels) {
  if (!ready_) return;
  surface_->DrawText(text, ToSurface(rect),
                     align == TextAlignment::Centre ? platform::TextAlign::Centre : platform::TextAlign::Left, labels);
}

int32_t PageRenderer::TextWidth(std::string_view text) const { return ready_ ? surface_->TextWidth(text) : 0; }

void PageRenderer::CopyRow(uint32_t y, uint8_t* out) const {
  if (ready_) surface_->CopyRow(static_cast<int32_t>(y), out);
  else std::memset(out, 0xFF, (width_ + 7) / 8);
}

bool PageRenderer::IsBlack(uint32_t x, uint32_t y) const {
  return ready_ && surface_->IsBlack(static_cast<int32_t>(x), static_cast<int32_t>(y));
}

void PageRenderer::EncodeTo(BitBuffer& output) {
  // A width that is not a multiple of 8 leaves pad bits in the line, which
  // the encoder refuses (HuffmanException 1).
  BitArray line((width_ + 7) / 8, kMsbFirst);
  // Photometric 1: a set bit of the bitmap is white.
  HuffmanEncoder encoder(line, output, 1, width_);
  for (uint32_t y = 0; y < height_; ++y) {
    CopyRow(y, line.MutableData());
    line.Rewind();
    encoder.EncodeLine();
  }
  encoder.Finish();
}

}  // namespace korvo
