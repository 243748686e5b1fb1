// The viewer's document without its windows: the open fax file, the page
// shown, each page's rotation and the zoom, with the page, zoom and rotation
// commands and the rules for enabling them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/tiff_reader.h"
#include "viewer/page_bitmap.h"
#include "viewer/zoom_scale.h"

namespace korvo {

inline constexpr char kViewerAppName[] = "Korvo Viewer";
inline constexpr char kViewerVersion[] = "1.30";
inline constexpr char kDispatcherMessage[] =
    "As a dispatcher, you are allowed to see only the first page of faxes in Dispatch Box!";

// Menu text and status text (the part after the line break is the tool tip)
// of a command.
struct ViewerCommandText {
  int32_t command;
  const char* menuText;
  const char* statusText;
};
extern const std::vector<ViewerCommandText> kViewerCommandTexts;
const ViewerCommandText* FindCommandText(int32_t command);

class FaxImageDocument {
 public:
  // A message box: text and caption.
  using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;
  // Views are updated: 0, or the quarter turns of a rotation.
  using UpdateSink = std::function<void(int32_t hint)>;

  // Starts at the zoom saved in Settings\Zoom (25% when it is none of the six).
  FaxImageDocument();

  void SetFirstPageOnly(bool on) { firstPageOnly_ = on; }
  bool FirstPageOnly() const { return firstPageOnly_; }
  void SetMessageSink(MessageSink sink) { message_ = std::move(sink); }
  void SetUpdateSink(UpdateSink sink) { update_ = std::move(sink); }

  // Opens the file and shows its first page; a file that cannot be read is
  // reported (caption "Opening") and leaves the document empty.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return reader_.IsOpen(); }

  // Moves to a page (modes of TiffReader::ReadPage; index for kPageAtIndex).
  // False, with nothing changed, for a page outside the file, a page the
  // dispatcher rule refuses (with its message) or one that cannot be read.
  bool GoToPage(uint32_t mode, uint16_t index = 0, bool redraw = true);
  // Reads page `index` with its rotation into another bitmap (printing),
  // under the same rules; the page shown stays.
  bool ReadPage(PageBitmap& bitmap, uint16_t index);

  // Turns the page shown by d (-1, 1, 2); it stays turned when read again.
  void Rotate(int32_t d);
  void SetZoom(int32_t command);
  // Writes the current percent to Settings\Zoom.
  void SaveZoom();

  // Runs a page, zoom or rotation command (not Go To, whose number comes from
  // its dialog); false for other commands.
  bool Execute(int32_t command);
  bool IsEnabled(int32_t command) const;
  bool IsChecked(int32_t command) const;

  // Status panes: "Page 2 of 3" (empty without pages) and "25%".
  std::string PageText() const;
  std::string ZoomText() const;

  const PageBitmap& Bitmap() const { return bitmap_; }
  const ZoomScale& Zoom() const { return zoom_; }
  int32_t ZoomCommand() const { return zoomCommand_; }
  uint16_t PageCount() const { return pageCount_; }
  uint16_t CurrentPage() const { return current_; }
  int32_t Rotation(uint16_t page) const { return page < rotation_.size() ? rotation_[page] : 0; }
  const std::string& Path() const { return path_; }

 private:
  std::optional<int64_t> Target(uint32_t mode, uint16_t index) const;
  bool Load(PageBitmap& bitmap, int64_t target, bool shown);
  bool Guarded(const std::function<bool()>& step);
  void Report(const std::string& text, const std::string& caption) const;
  void Update(int32_t hint) const;

  TiffReader reader_;
  PageBitmap bitmap_;
  uint16_t current_ = 0;
  uint16_t pageCount_ = 0;
  std::vector<int32_t> rotation_;
  ZoomScale zoom_;
  int32_t zoomCommand_ = 32780;
  bool firstPageOnly_ = false;
  std::string path_;
  MessageSink message_;
  UpdateSink update_;
};

// The Go To dialog's number: a whole number from 1 to the page count, else
// the message the dialog shows.
struct GoToEntry {
  std::optional<uint16_t> page;  // from 1
  std::string message;
};
GoToEntry ParseGoToPage(const std::string& text, uint16_t pageCount);

}  // namespace korvo
