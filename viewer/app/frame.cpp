#include "viewer/app/frame.h"

#include <wx/dcclient.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

#include "desktop/prompt.h"
#include "viewer/app/dialogs.h"
#include "viewer/app/document.h"
#include "viewer/app/viewer.h"
#include "viewer/fax_image_document.h"
#include "viewer/viewer_ids.h"

namespace korvo {

namespace id = viewer_id;

namespace {

// Toolbar pictures, 16 x 15: '#' black, '+' dark grey, 'o' white, '.' clear.
const char* const kOpenIcon[] = {
    "................", "................", "..........###...", ".........#...#.#", "..............##",
    ".###.........###", "#ooo#######.....", "#ooooooooo#.....", "#ooo###########.", "#oo#+++++++++#..",
    "#o#+++++++++#...", "##+++++++++#....", "###########.....", "................", "................"};
const char* const kRotateLeftIcon[] = {
    "................", "......#####.....", "....##.....##...", "...#.........#..", "..#...........#.",
    "#.#.#.........#.", ".###..........#.", "..#...........#.", "..............#.", "..............#.",
    ".............#..", "...#........#...", "....##.....##...", "......#####.....", "................"};
const char* const kPreviousIcon[] = {
    "................", "................", "..........#.....", ".........##.....", "........###.....",
    ".......####.....", "......#####.....", ".....######.....", "......#####.....", ".......####.....",
    "........###.....", ".........##.....", "..........#.....", "................", "................"};
const char* const kPrintIcon[] = {
    "................", "....#########...", "....#ooooooo#...", "....#o#####o#...", "....#ooooooo#...",
    "..#############.", ".#oooooooooooo#.", "#ooooooooooo++#.", "#ooooooooooooo#.", "###############.",
    "#+++++++++++++#.", "#+#########+++#.", ".#ooooooooo#+#..", "..###########...", "................"};
const char* const kAboutIcon[] = {
    "................", ".....######.....", "....##....##....", "...##......##...", "...##......##...",
    "..........##....", ".........##.....", "........##......", ".......##.......", ".......##.......",
    "................", ".......##.......", ".......##.......", "................", "................"};

wxBitmap Icon(const char* const rows[15], bool mirrored = false) {
  wxImage image(16, 15);
  image.InitAlpha();
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 16; ++x) {
      const char c = rows[y][mirrored ? 15 - x : x];
      const unsigned char v = c == 'o' ? 255 : c == '+' ? 128 : 0;
      image.SetRGB(x, y, v, v, v);
      image.SetAlpha(x, y, c == '.' ? 0 : 255);
    }
  return wxBitmap(image);
}

// The status text of a command: the line shown in the status bar and the tool tip.
struct Help {
  wxString status, tip;
};
Help HelpOf(int32_t command) {
  const char* text = nullptr;
  if (const ViewerCommandText* t = FindCommandText(command)) text = t->statusText;
  switch (command) {
    case id::kFileOpen: text = "Opens an existing document\nOpen"; break;
    case id::kFilePrint: text = "Prints the active document\nPrint"; break;
    case id::kFilePrintPreview: text = "Displays full pages\nPrint Preview"; break;
    case id::kFilePrintSetup: text = "Changes the printer and printing options\nPrint Setup"; break;
    case id::kAppAbout: text = "Displays program information, version number and copyright\nAbout"; break;
    case id::kAppExit: text = "Quits the application\nExit"; break;
    case id::kViewToolbar: text = "Shows or hides the toolbar\nToggle ToolBar"; break;
    case id::kViewStatusBar: text = "Shows or hides the status bar\nToggle StatusBar"; break;
  }
  const wxString all = text ? wxString::FromUTF8(text) : wxString();
  return {all.BeforeFirst('\n'), all.Contains("\n") ? all.AfterFirst('\n') : wxString()};
}

wxFont GuiFont() {
  wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  font.SetPointSize(8);
  font.SetWeight(wxFONTWEIGHT_NORMAL);
  return font;
}

}  // namespace

PageBox::PageBox(wxWindow* parent, int boxId, const wxSize& size)
    : wxControl(parent, boxId, wxDefaultPosition, size, wxBORDER_SIMPLE) {
  SetFont(GuiFont());
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &PageBox::OnPaint, this);
}

void PageBox::SetNumber(const wxString& text) {
  if (text == text_) return;
  text_ = text;
  Refresh();
}

void PageBox::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  dc.SetFont(GetFont());
  dc.SetTextForeground(*wxBLACK);
  const wxSize text = dc.GetTextExtent(text_), client = GetClientSize();
  dc.DrawText(text_, (client.x - text.x) / 2, (client.y - text.y) / 2);
}

PageToolBar::PageToolBar(wxWindow* parent)
    : wxToolBar(parent, WxId(id::kToolBar), wxDefaultPosition, wxDefaultSize, wxTB_HORIZONTAL | wxTB_FLAT | wxTB_TOP) {
  SetToolBitmapSize(wxSize(16, 15));
  const auto add = [this](int32_t command, const wxBitmap& bitmap) {
    const Help help = HelpOf(command);
    AddTool(WxId(command), help.tip, bitmap, help.tip);
    SetToolLongHelp(WxId(command), help.status);
  };
  add(id::kFileOpen, Icon(kOpenIcon));
  AddSeparator();
  add(id::kRotateLeft, Icon(kRotateLeftIcon));
  add(id::kRotateRight, Icon(kRotateLeftIcon, true));
  AddSeparator();
  add(id::kPreviousPage, Icon(kPreviousIcon));
  const int height = std::max(GetTextExtent("99").y + 6, 20);
  box_ = new PageBox(this, id::kPageBox, wxSize(30, height));
  AddControl(box_);
  add(id::kNextPage, Icon(kPreviousIcon, true));
  AddSeparator();
  add(id::kFilePrint, Icon(kPrintIcon));
  add(id::kAppAbout, Icon(kAboutIcon));
  Realize();
}

void PageToolBar::ShowPage(const FaxImageDocument& model) {
  box_->SetNumber(wxString::Format("%u", static_cast<unsigned>(model.CurrentPage()) + 1));
}

MainFrame::MainFrame(ViewerDocManager* manager, FaxImageDocument& model)
    : wxDocParentFrame(manager, nullptr, wxID_ANY, kViewerAppName, wxDefaultPosition, wxSize(800, 700)),
      manager_(manager),
      model_(model) {
  BuildMenus();
  toolBar_ = new PageToolBar(this);
  SetToolBar(toolBar_);
  wxStatusBar* status = CreateStatusBar(3, wxSTB_DEFAULT_STYLE, WxId(id::kStatusBar));
  // A pane's text is drawn within margins, and the last pane's also beside
  // the size grip, a square of the bar's height; what does not fit is cut
  // short with "...".
  const int margins = 2 * status->GetBorderX() + 8;
  const int zoomWidth = status->GetTextExtent("100 % XX").x + margins;
  const int pageWidth = status->GetTextExtent("Page 99 of 99").x + margins + status->GetSize().y;
  const int widths[] = {-1, zoomWidth, pageWidth};
  status->SetStatusWidths(3, widths);
  SetStatusBarPane(0);
  canvas_ = new PageCanvas(this);

  Bind(wxEVT_MENU, &MainFrame::OnCommand, this, WxId(id::kNextPage), WxId(id::kSaveZoom));
  Bind(wxEVT_UPDATE_UI, &MainFrame::OnUpdateCommand, this, WxId(id::kNextPage), WxId(id::kSaveZoom));
  Bind(wxEVT_MENU, &MainFrame::OnOpen, this, WxId(id::kFileOpen));
  Bind(wxEVT_MENU, &MainFrame::OnAbout, this, WxId(id::kAppAbout));
  Bind(wxEVT_MENU, [this](wxCommandEvent& e) { manager_->OnPrint(e); }, WxId(id::kFilePrint));
  Bind(wxEVT_MENU, [this](wxCommandEvent& e) { manager_->OnPreview(e); }, WxId(id::kFilePrintPreview));
  Bind(wxEVT_MENU, [this](wxCommandEvent& e) { manager_->OnPageSetup(e); }, WxId(id::kFilePrintSetup));
  Bind(wxEVT_MENU, [this](wxCommandEvent& e) { manager_->OnMRUFile(e); }, WxId(id::kFileMru1),
       WxId(id::kFileMru1) + static_cast<int>(RecentFileList::kSize) - 1);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, WxId(id::kAppExit));
  Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(model_.PageCount() > 0); }, WxId(id::kFilePrint));
  Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Enable(model_.PageCount() > 0); }, WxId(id::kFilePrintPreview));
  Bind(wxEVT_MENU, [this](wxCommandEvent&) {
    toolBar_->Show(!toolBar_->IsShown());
    SendSizeEvent();
  }, WxId(id::kViewToolbar));
  Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(toolBar_->IsShown()); }, WxId(id::kViewToolbar));
  Bind(wxEVT_MENU, [this](wxCommandEvent&) {
    GetStatusBar()->Show(!GetStatusBar()->IsShown());
    SendSizeEvent();
  }, WxId(id::kViewStatusBar));
  Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(GetStatusBar()->IsShown()); }, WxId(id::kViewStatusBar));
  Bind(wxEVT_DROP_FILES, &MainFrame::OnDropFiles, this);
  Bind(wxEVT_IDLE, &MainFrame::OnIdle, this);
}

void MainFrame::BuildMenus() {
  const auto item = [](wxMenu* menu, int32_t command, const wxString& text, wxItemKind kind = wxITEM_NORMAL) {
    const char* menuText = nullptr;
    if (const ViewerCommandText* t = FindCommandText(command)) menuText = t->menuText;
    menu->Append(WxId(command), text.empty() ? wxString::FromUTF8(menuText) : text, HelpOf(command).status, kind);
  };
  auto* file = new wxMenu;
  item(file, id::kFileOpen, "&Open...\tCtrl+O");
  item(file, id::kFilePrint, "&Print...\tCtrl+P");
  item(file, id::kFilePrintPreview, "Print Pre&view");
  item(file, id::kFilePrintSetup, "P&rint Setup...");
  file->AppendSeparator();
  manager_->FileHistoryUseMenu(file);
  file->AppendSeparator();
  item(file, id::kAppExit, "E&xit");

  auto* page = new wxMenu;
  for (int32_t c : {id::kNextPage, id::kPreviousPage, id::kFirstPage, id::kLastPage}) item(page, c, "");
  page->AppendSeparator();
  item(page, id::kGoToPage, "");
  page->AppendSeparator();
  for (int32_t c : {id::kRotateLeft, id::kRotateRight, id::kFlip}) item(page, c, "");

  auto* zoom = new wxMenu;
  for (const ZoomLevel& z : kZoomLevels) item(zoom, z.command, "", wxITEM_CHECK);
  zoom->AppendSeparator();
  item(zoom, id::kSaveZoom, "");

  auto* view = new wxMenu;
  item(view, id::kViewToolbar, "&Toolbar", wxITEM_CHECK);
  item(view, id::kViewStatusBar, "&Status Bar", wxITEM_CHECK);

  auto* help = new wxMenu;
  item(help, id::kAppAbout, "&About Korvo Viewer...");

  auto* bar = new wxMenuBar;
  bar->Append(file, "&File");
  bar->Append(page, "&Page");
  bar->Append(zoom, "&Zoom");
  bar->Append(view, "&View");
  bar->Append(help, "&Help");
  SetMenuBar(bar);
}

void MainFrame::ShowState() {
  if (wxStatusBar* status = GetStatusBar()) {
    const wxString zoom = wxString::FromUTF8(model_.ZoomText()), page = wxString::FromUTF8(model_.PageText());
    if (status->GetStatusText(1) != zoom) status->SetStatusText(zoom, 1);
    if (status->GetStatusText(2) != page) status->SetStatusText(page, 2);
  }
  if (toolBar_) toolBar_->ShowPage(model_);
}

void MainFrame::OnCommand(wxCommandEvent& event) {
  const int32_t command = NumberOfWxId(event.GetId());
  if (command == id::kGoToPage) {
    OnGoTo(event);
  } else {
    wxBusyCursor wait;
    model_.Execute(command);
  }
  ShowState();
}

void MainFrame::OnUpdateCommand(wxUpdateUIEvent& event) {
  const int32_t command = NumberOfWxId(event.GetId());
  event.Enable(model_.IsEnabled(command));
  if (ZoomByCommand(command)) event.Check(model_.IsChecked(command));
}

void MainFrame::OnGoTo(wxCommandEvent&) {
  if (!model_.IsEnabled(id::kGoToPage)) return;
  GoToDialog dialog(this, model_.CurrentPage(), model_.PageCount());
  if (dialog.ShowModal() != wxID_OK) return;
  wxBusyCursor wait;
  model_.GoToPage(kPageAtIndex, static_cast<uint16_t>(dialog.Page() - 1));
}

void MainFrame::OnOpen(wxCommandEvent&) {
  desktop::FileRequest request;
  request.wildcard = "KorvoLens Files (*.fax)|*.fax;*.FAX|All Files (*)|*";
  if (const auto path = desktop::Prompts().ChooseFile(this, request)) Viewer::Get()->OpenFile(*path);
}

void MainFrame::OnAbout(wxCommandEvent&) {
  AboutDialog dialog(this);
  dialog.ShowModal();
}

void MainFrame::OnDropFiles(wxDropFilesEvent& event) {
  if (event.GetNumberOfFiles() > 0) Viewer::Get()->OpenFile(event.GetFiles()[0].utf8_string());
}

void MainFrame::OnIdle(wxIdleEvent& event) {
  ShowState();
  event.Skip();
}

}  // namespace korvo
