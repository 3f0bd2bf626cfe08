// The analysis window's side of the comparison sheets: the sheet choice menu, taking a picture of
// the picture area into the chosen sheet, and the warning that refuses both while an export runs.
#include "analysis/sheets/SheetOutput.h"
#include "analysis/sheets/SheetTable.h"
#include "common/startup/GlobalPaths.h"
#include "platform/ui/ModalForms.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Sheets.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

namespace {

TComparisonSheet* SheetOf(sheets::SheetKind kind) {
  AppForms& f = Forms();
  using K = sheets::SheetKind;
  switch (kind) {
    case K::V_Capture_4: return f.V_Capture_4;
    case K::H_Capture_4: return f.H_Capture_4;
    case K::V_Capture_4_L: return f.V_Capture_4_L;
    case K::V_Capture_6: return f.V_Capture_6;
    case K::H_Capture_6: return f.H_Capture_6;
    case K::V_Capture_6_L: return f.V_Capture_6_L;
    case K::V_Capture_9: return f.V_Capture_9;
    case K::H_Capture_9: return f.H_Capture_9;
    case K::V_Capture_12: return f.V_Capture_12;
    case K::H_Capture_12: return f.H_Capture_12;
    case K::V_Capture_12_L: return f.V_Capture_12_L;
    case K::V_Capture_18_L: return f.V_Capture_18_L;
  }
  return nullptr;
}

}  // namespace

void TKestromForm::CreateSheetControls() {
  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  PopupMenu2->setToolTipsVisible(true);
  auto addItem = [this](QAction*& item, const QString& name, const QString& caption, const QString& hint,
                        void (TKestromForm::*handler)()) {
    item = PopupMenu2->addAction(caption);
    item->setObjectName(name);
    item->setToolTip(hint);
    item->setCheckable(true);
    // The handler alone decides the check marks, so the toggle of the click is taken back.
    QAction* action = item;
    connect(item, &QAction::triggered, this, [this, action, handler](bool checked) {
      action->setChecked(!checked);
      (this->*handler)();
    });
  };
  const QString portrait = "Portrait capture format";
  addItem(ImageCaptureX1, "ImageCaptureX1", "Image Capture x 1", "Screen Capture", &TKestromForm::ImageCaptureX1Click);
  addItem(ImageCapturex4, "ImageCapturex4", "Image Capture x 4 (P)", portrait, &TKestromForm::ImageCapturex4Click);
  addItem(ImageCapturex4L1, "ImageCapturex4L1", "Image Capture x 4 (L)", "Landscape capture format",
          &TKestromForm::ImageCapturex4L1Click);
  addItem(ImageCaptureX6, "ImageCaptureX6", "Image Capture x 6 (P)", portrait, &TKestromForm::ImageCaptureX6Click);
  addItem(ImageCapturex6L1, "ImageCapturex6L1", "Image Capture x 6 (L)", QString(),
          &TKestromForm::ImageCapturex6L1Click);
  addItem(ImageCapturex9, "ImageCapturex9", "Image Capture x 9 (P)", portrait, &TKestromForm::ImageCapturex9Click);
  addItem(ImageCaptureX12, "ImageCaptureX12", "Image Capture x 12 (P)", portrait,
          &TKestromForm::ImageCaptureX12Click);
  addItem(ImageCapturex12L1, "ImageCapturex12L1", "Image Capture x 12 (L)", QString(),
          &TKestromForm::ImageCapturex12L1Click);
  addItem(ImageCapturex18L1, "ImageCapturex18L1", "Image Capture x 18 (L)", QString(),
          &TKestromForm::ImageCapturex18L1Click);
  ImageCaptureX1->setChecked(true);

  SaveDialogJpeg = sheets::JpegSaveDialog();

  connect(CaptureMenuButton, &QToolButton::clicked, this, [this] { CaptureMenuButtonClick(); });
  connect(CaptureSpeedButton, &QToolButton::clicked, this, [this] { CaptureSpeedButtonClick(); });
  connect(SpeedButton8, &QToolButton::clicked, this, [this] { CaptureSpeedButtonClick(); });
}

bool TKestromForm::WarnExportRunning() {
  if (!Exporting) return false;
  Timer1->stop();
  ExportAVITimer->stop();
  const QPoint at = Bounds().topLeft();
  ui::AppDialogs().MessageDlgPos(
      "Please do not use the normal video controls while creating your own AVI file.\r\n"
      "You may only use the Pause/Continue and ScrollBar functions for video control and the\r\n"
      "Tabs which allow you to add/edit lines, shapes, angles and traces etc...",
      ui::MsgDlgType::mtWarning, ui::mbOK, at.x() + 64, at.y() + 86, this);
  return true;
}

void TKestromForm::CaptureMenuButtonClick() {
  if (WarnExportRunning()) return;
  StopPlayback();
  if (FrameHeight == 480 && !QFileInfo::exists(shell::Globals().NTSCHintFile) && NTSCHint) {
    const TKestromForm* main = Forms().MainWindow ? Forms().MainWindow : this;
    MoveOnScreen(NTSCHint, main, DefaultCompanionPlace(main->Bounds()));
    ui::ShowModal(*NTSCHint);
  }
  if (!VideoOpen) return;
  const QPoint at = Bounds().topLeft();
  PopupMenu2->popup(QPoint(at.x() + 64, at.y() + 86));
}

void TKestromForm::ShowCaptureStyle() {
  for (QAction* item : {ImageCaptureX1, ImageCapturex4, ImageCapturex4L1, ImageCaptureX6, ImageCapturex6L1,
                        ImageCapturex9, ImageCaptureX12, ImageCapturex12L1, ImageCapturex18L1})
    item->setChecked(false);
}

void TKestromForm::ImageCaptureX1Click() {
  CaptureStyle = 1;
  ShowCaptureStyle();
  ImageCaptureX1->setChecked(true);
}

void TKestromForm::ChooseSheet(QAction* item, int style, bool landscape) {
  const bool ready = Layout == 1 || (!landscape && Layout == 2);
  if (!ready) {
    AppForms& forms = Forms();
    forms.ActiveWindowNumber = this == forms.BestWindow ? 2 : 1;
    TInformationForm* chooser = forms.InformationForm;
    chooser->HorzLabel->setVisible(!landscape);
    chooser->HorzButton->setVisible(!landscape);
    chooser->VertLabel->setVisible(true);
    chooser->VertButton->setVisible(true);
    if (ui::ShowModal(*chooser) != 9) return;
    update();  // the new layout shows the picture again
  }
  const std::optional<sheets::SheetKind> kind = sheets::SheetFor(style, Layout);
  if (!kind) return;
  CaptureStyle = style;
  if (TComparisonSheet* sheet = SheetOf(*kind)) ShowCompanion(sheet, this);
  ShowCaptureStyle();
  item->setChecked(true);
}

void TKestromForm::ImageCapturex4Click() { ChooseSheet(ImageCapturex4, 4, false); }
void TKestromForm::ImageCapturex4L1Click() { ChooseSheet(ImageCapturex4L1, 41, true); }
void TKestromForm::ImageCaptureX6Click() { ChooseSheet(ImageCaptureX6, 6, false); }
void TKestromForm::ImageCapturex6L1Click() { ChooseSheet(ImageCapturex6L1, 61, true); }
void TKestromForm::ImageCapturex9Click() { ChooseSheet(ImageCapturex9, 9, false); }
void TKestromForm::ImageCaptureX12Click() { ChooseSheet(ImageCaptureX12, 12, false); }
void TKestromForm::ImageCapturex12L1Click() { ChooseSheet(ImageCapturex12L1, 121, true); }
void TKestromForm::ImageCapturex18L1Click() { ChooseSheet(ImageCapturex18L1, 181, true); }

QImage TKestromForm::PictureAreaImage() const {
  const int w = std::max(1, AreaWidth), h = std::max(1, AreaHeight);
  QImage picture(w, h, QImage::Format_RGB32);
  picture.fill(core::ToQColor(shell::Globals().BackgroundColour));
  if (!WindowCanvas.Image().isNull()) {
    // The canvas holds the frame and every drawing on it; the screen is never read.
    QPainter painter(&picture);
    painter.drawImage(QPoint(0, 0), WindowCanvas.Image(), QRect(0, MenuPanelHeight, w, h));
  }
  return picture;
}

void TKestromForm::CaptureSpeedButtonClick() {
  if (WarnExportRunning() || !VideoOpen) return;
  StillCaptureBitmap = PictureAreaImage();
  const QString caption = Test->text();
  const int w = StillCaptureBitmap.width(), h = StillCaptureBitmap.height();
  if (CaptureStyle == 1) {
    TCapture1* capture = Forms().Capture1;
    if (!capture) return;
    capture->SetClientSize(w, h + 20);
    capture->SetPicture(StillCaptureBitmap);
    capture->SetCaption(caption, w - 36, h + 20 - 40);
    ShowCompanion(capture, this);
    return;
  }
  // The layout may have changed since the style was chosen; then no sheet takes the picture.
  if (const std::optional<sheets::SheetKind> kind = sheets::SheetFor(CaptureStyle, Layout)) {
    if (TComparisonSheet* sheet = SheetOf(*kind)) sheet->AddImage(StillCaptureBitmap, caption);
  }
}

void TKestromForm::SaveCapture1AsJPEG(TCapture1* capture) {
  if (capture) sheets::SavePictureAsJpeg(capture->ClientImage(), SaveDialogJpeg, this);
}

}  // namespace kestrom::window
