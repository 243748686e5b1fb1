#include "viewer/fax_image_document.h"

#include <cctype>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <system_error>

#include "common/imaging_exceptions.h"
#include "common/settings.h"
#include "viewer/viewer_ids.h"

namespace korvo {

namespace id = viewer_id;

namespace {

constexpr char kSettingsKey[] = "Korvo Viewer\\Settings";
constexpr char kOpening[] = "Opening";

}  // namespace

const std::vector<ViewerCommandText> kViewerCommandTexts = {
    {id::kNextPage, "&Next", "Displays the next page of the document\nNext page"},
    {id::kPreviousPage, "Pre&vious", "Displays the previous page of the document\nPrevious page"},
    {id::kFirstPage, "&First", "Displays the first page of the document"},
    {id::kLastPage, "&Last", "Displays the last page of the document"},
    {id::kGoToPage, "&Go To...", "Displays the selected page of the document"},
    {32780, "&25%", "Zooms the image to 25% of its original size"},
    {32781, "&50%", "Zooms the image to 50% of its original size"},
    {32782, "&75%", "Zooms the image to 75% of its original size"},
    {32783, "&100%", "Zooms the image to 100% of its original size"},
    {32784, "2&00%", "Zooms the image to 200% of its original size"},
    {32785, "&300%", "Zooms the image to 300% of its original size"},
    {id::kRotateLeft, "R&otate Left", "Rotates the page 90 degrees to the left\nRotate Left"},
    {id::kRotateRight, "Rotate &Right", "Rotates the page 90 degrees to the right\nRotate Right"},
    {id::kFlip, "Fli&p", "Rotates the page 180 degrees"},
    {id::kSaveZoom, "&Save", "Saves the current zoom factor as application's default"},
};

const ViewerCommandText* FindCommandText(int32_t command) {
  for (const auto& c : kViewerCommandTexts)
    if (c.command == command) return &c;
  return nullptr;
}

FaxImageDocument::FaxImageDocument() {
  uint32_t percent = 0;
  const ZoomLevel* level = nullptr;
  if (KvReadRegUserDword(kSettingsKey, "Zoom", &percent)) level = ZoomByPercent(percent);
  if (!level) level = &kZoomLevels[0];
  zoom_.SetZoom(*level);
  zoomCommand_ = level->command;
}

void FaxImageDocument::Report(const std::string& text, const std::string& caption) const {
  if (message_) message_(text, caption);
}

void FaxImageDocument::Update(int32_t hint) const {
  if (update_) update_(hint);
}

// Runs a step of opening or moving; what it raises is shown as the
// framework shows it, and the step fails.
bool FaxImageDocument::Guarded(const std::function<bool()>& step) {
  try {
    return step();
  } catch (Exception* e) {
    Report(e->Text(), kOpening);
    delete e;
  } catch (const std::exception& e) {
    Report(e.what(), kViewerAppName);
  } catch (...) {
    Report("Unexpected exception", kViewerAppName);
  }
  return false;
}

bool FaxImageDocument::Open(const std::string& path) {
  Close();
  const bool opened = Guarded([&] {
    // A folder opens for reading here and would read as a file of no bytes.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
      throw std::system_error(EISDIR, std::generic_category(), "cannot open " + path);
    PageDescriptor descriptor;
    reader_.Open(path, pageCount_, descriptor);
    rotation_.assign(pageCount_, 0);
    path_ = path;
    return true;
  });
  if (!opened || !GoToPage(kPageFirst, 0, false)) {
    Close();
    return false;
  }
  return true;
}

void FaxImageDocument::Close() {
  bitmap_.Free();
  reader_.Close();
  rotation_.clear();
  rotation_.shrink_to_fit();
  pageCount_ = current_ = 0;
  path_.clear();
}

// The page a move aims at, from the page the document keeps, never from the
// page numbers a file writes into its pages.
std::optional<int64_t> FaxImageDocument::Target(uint32_t mode, uint16_t index) const {
  switch (mode) {
    case kPageAtIndex: return index;
    case kPageFirst: return 0;
    case kPageLast: return static_cast<int64_t>(pageCount_) - 1;
    case kPageNext: return static_cast<int64_t>(current_) + 1;
    case kPagePrevious: return static_cast<int64_t>(current_) - 1;
  }
  return std::nullopt;
}

bool FaxImageDocument::Load(PageBitmap& bitmap, int64_t target, bool shown) {
  if (firstPageOnly_ && target > 0 && target < pageCount_) {
    Report(kDispatcherMessage, kViewerAppName);
    return false;
  }
  if (!reader_.IsOpen() || target < 0 || target >= pageCount_) return false;
  return Guarded([&] {
    uint16_t index = static_cast<uint16_t>(target);
    PageDescriptor descriptor;
    const uint8_t* rows = nullptr;
    uint32_t size = 0;
    if (!reader_.ReadPageBitmap(kPageAtIndex, index, descriptor, rows, size)) return false;
    bitmap.Load(descriptor, rows, static_cast<int32_t>(target));
    bitmap.Rotate(rotation_[static_cast<size_t>(target)]);
    if (shown) {
      current_ = static_cast<uint16_t>(target);
      zoom_.SetAspect(bitmap.Descriptor().xResolution, bitmap.Descriptor().yResolution);
    }
    return true;
  });
}

bool FaxImageDocument::GoToPage(uint32_t mode, uint16_t index, bool redraw) {
  const auto target = Target(mode, index);
  if (!target || !Load(bitmap_, *target, true)) return false;
  if (redraw) Update(0);
  return true;
}

bool FaxImageDocument::ReadPage(PageBitmap& bitmap, uint16_t index) { return Load(bitmap, index, false); }

void FaxImageDocument::Rotate(int32_t d) {
  if (!bitmap_.Loaded() || current_ >= rotation_.size()) return;
  int32_t& value = rotation_[current_];
  value += d;
  if (value < -1) value += 4;
  if (value > 2) value -= 4;
  bitmap_.Rotate(d);
  zoom_.SetAspect(bitmap_.Descriptor().xResolution, bitmap_.Descriptor().yResolution);
  Update(d);
}

void FaxImageDocument::SetZoom(int32_t command) {
  const ZoomLevel* level = ZoomByCommand(command);
  if (!level || command == zoomCommand_) return;
  zoom_.SetZoom(*level);
  zoomCommand_ = command;
  Update(0);
}

void FaxImageDocument::SaveZoom() { KvWriteRegUserDword(kSettingsKey, "Zoom", zoom_.Percent()); }

bool FaxImageDocument::Execute(int32_t command) {
  switch (command) {
    case id::kNextPage: GoToPage(kPageNext); return true;
    case id::kPreviousPage: GoToPage(kPagePrevious); return true;
    case id::kFirstPage: GoToPage(kPageFirst); return true;
    case id::kLastPage: GoToPage(kPageLast); return true;
    case id::kRotateLeft: Rotate(-1); return true;
    case id::kRotateRight: Rotate(1); return true;
    case id::kFlip: Rotate(2); return true;
    case id::kSaveZoom: SaveZoom(); return true;
  }
  if (ZoomByCommand(command)) {
    SetZoom(command);
    return true;
  }
  return false;
}

bool FaxImageDocument::IsEnabled(int32_t command) const {
  const bool several = pageCount_ >= 2;
  switch (command) {
    case id::kNextPage:
    case id::kLastPage: return several && current_ + 1 != pageCount_;
    case id::kPreviousPage:
    case id::kFirstPage: return several && current_ != 0;
    case id::kGoToPage: return several;
    case id::kRotateLeft:
    case id::kRotateRight:
    case id::kFlip: return bitmap_.Loaded();
    case id::kSaveZoom: return true;
  }
  return ZoomByCommand(command) != nullptr;
}

bool FaxImageDocument::IsChecked(int32_t command) const { return command == zoomCommand_; }

std::string FaxImageDocument::PageText() const {
  if (pageCount_ == 0) return "";
  return "Page " + std::to_string(current_ + 1) + " of " + std::to_string(pageCount_);
}

std::string FaxImageDocument::ZoomText() const { return std::to_string(zoom_.Percent()) + "%"; }

GoToEntry ParseGoToPage(const std::string& text, uint16_t pageCount) {
  const std::string range =
      "Please enter an integer between 1 and " + std::to_string(pageCount) + ".";
  size_t i = 0, end = text.size();
  while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  while (end > i && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == end) return {std::nullopt, "Please enter an integer."};
  uint64_t value = 0;
  for (; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return {std::nullopt, "Please enter an integer."};
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(text[i] - '0'), UINT32_MAX);
  }
  if (negative || value < 1 || value > pageCount) return {std::nullopt, range};
  return {static_cast<uint16_t>(value), ""};
}

}  // namespace korvo
