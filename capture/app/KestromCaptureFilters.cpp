// The capture form's Filters page, its settings files and the folder chooser.
#include "capture/app/KestromCaptureForm.h"

#include "platform/ui/FormSupport.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/FilterSettings.h"
#include "capture/app/RadioGroup.h"
#include "platform/ui/Dialogs.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

namespace kestrom::capture {

using engine::TFramecatcher;

namespace {

QSlider* AddTrackBar(QWidget* parent, const char* name, Qt::Orientation orientation, int low, int high, int value,
                     QRect geometry) {
  auto* bar = new QSlider(orientation, parent);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setRange(low, high);
  bar->setValue(value);
  bar->setGeometry(geometry);
  return bar;
}

}  // namespace

void TKestromCaptureForm::BuildFiltersPage(QWidget* page) {
  auto addCheck = [this, page](const char* name, const char* caption, int top, void (TKestromCaptureForm::*click)()) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), page);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(8, top, 160, 22);
    // A check box's click handler runs when code checks it too.
    connect(box, &QCheckBox::toggled, this, click);
    return box;
  };
  chkFlipVertical = addCheck("chkFlipVertical", "flip vertical", 8, &TKestromCaptureForm::chkFlipVerticalClick);
  chkFlipHorizontal =
      addCheck("chkFlipHorizontal", "flip horizontal", 32, &TKestromCaptureForm::chkFlipHorizontalClick);
  chkInvertColors = addCheck("chkInvertColors", "invert colors", 56, &TKestromCaptureForm::chkInvertColorsClick);
  chkGreyScale = addCheck("chkGreyScale", "greyscale", 80, &TKestromCaptureForm::chkGreyScaleClick);
  ui::AddLabel(page, "BrightnessLabel", "brightness", 180, 8);
  tbrBrightness = AddTrackBar(page, "tbrBrightness", Qt::Horizontal, -128, 128, 0, {180, 26, 230, 24});
  ui::AddLabel(page, "ContrastLabel", "contrast", 180, 56);
  tbrConstrast = AddTrackBar(page, "tbrConstrast", Qt::Horizontal, -128, 128, 0, {180, 74, 230, 24});
  connect(tbrBrightness, &QSlider::valueChanged, this, [this] { tbrBrightnessChange(); });
  connect(tbrConstrast, &QSlider::valueChanged, this, [this] { tbrConstrastChange(); });
  btnResetAll = ui::AddButton(page, "btnResetAll", "Reset Video Filters", 8, 110, 160, 26);
  connect(btnResetAll, &QPushButton::clicked, this, [this] { btnResetAllClick(); });

  chkText = addCheck("chkText", "text overlay", 150, &TKestromCaptureForm::chkTextClick);
  Memo1 = new QPlainTextEdit(page);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(8, 176, 360, 120);
  Memo1->setPlainText(QStringLiteral("Kestrom"));
  connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { Memo1Change(); });
  TrackBar1 = AddTrackBar(page, "TrackBar1", Qt::Vertical, 0, 100, 1, {376, 176, 24, 120});
  TrackBar2 = AddTrackBar(page, "TrackBar2", Qt::Horizontal, 0, 100, 1, {8, 300, 360, 24});
  connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
  connect(TrackBar2, &QSlider::valueChanged, this, [this] { TrackBar2Change(); });
  Button12 = ui::AddButton(page, "Button12", "Font", 8, 330, 80, 26);
  connect(Button12, &QPushButton::clicked, this, [this] { Button12Click(); });
  SaveTextButton = ui::AddButton(page, "SaveTextButton", "Save", 96, 330, 80, 26);
  SaveTextButton->setToolTip(QStringLiteral("Save the current font and text overlay as defaults"));
  connect(SaveTextButton, &QPushButton::clicked, this, [this] { SaveTextButtonClick(); });
  SetMemo1Font(Memo1FontChoice);

  // The deinterlacing choice is kept on the Working page.
  rdgDeinterlacing = AddRadioGroup(PageControl1->widget(WorkingPage), QStringLiteral("rdgDeinterlacing"),
                                   QString(), {"disabled", "half-size", "full size"}, {216, 168, 200, 84},
                                   [this] { rdgDeinterlacingClick(); });
}

// ---------------------------------------------------------------- video processing

void TKestromCaptureForm::chkFlipVerticalClick() {
  Framecatcher->SetVideoProcessing_FlipVertical(chkFlipVertical->isChecked());
}

void TKestromCaptureForm::chkFlipHorizontalClick() {
  Framecatcher->SetVideoProcessing_FlipHorizontal(chkFlipHorizontal->isChecked());
}

void TKestromCaptureForm::chkInvertColorsClick() {
  Framecatcher->SetVideoProcessing_InvertColors(chkInvertColors->isChecked());
}

void TKestromCaptureForm::chkGreyScaleClick() { Framecatcher->SetVideoProcessing_GrayScale(chkGreyScale->isChecked()); }

// The bars read brighter and stronger to the right; the component counts the other way.
void TKestromCaptureForm::tbrBrightnessChange() { Framecatcher->SetVideoProcessing_Brightness(-tbrBrightness->value()); }

void TKestromCaptureForm::tbrConstrastChange() { Framecatcher->SetVideoProcessing_Contrast(-tbrConstrast->value()); }

void TKestromCaptureForm::rdgDeinterlacingClick() {
  const int item = RadioIndex(rdgDeinterlacing);
  if (item >= 0) Framecatcher->SetVideoProcessing_Deinterlacing(item);
}

void TKestromCaptureForm::btnResetAllClick() {
  if (!NoCameraMode) ResetFilters();
}

void TKestromCaptureForm::ResetFilters() {
  SetRadioIndex(rdgDeinterlacing, 0);
  tbrBrightness->setValue(0);
  tbrConstrast->setValue(0);
  chkGreyScale->setChecked(false);
  chkFlipVertical->setChecked(false);
  chkFlipHorizontal->setChecked(false);
  chkInvertColors->setChecked(false);
  chkText->setChecked(false);
  Log(QStringLiteral("All Filters have been reset"));
}

// ---------------------------------------------------------------- text overlay

ui::FontChoice TKestromCaptureForm::Memo1Font() const { return Memo1FontChoice; }

void TKestromCaptureForm::SetMemo1Font(const ui::FontChoice& font) {
  Memo1FontChoice = font;
  Memo1->setFont(ui::ToQFont(font));
  QPalette palette = Memo1->palette();
  palette.setColor(QPalette::Text, core::ToQColor(font.color));
  Memo1->setPalette(palette);
}

void TKestromCaptureForm::ApplyTextOverlay() {
  TFramecatcher* fc = Framecatcher;
  fc->SetTextOverlay_Right(2000);
  // The overlay stays on whatever "text overlay" shows: unchecking it only applies it again.
  fc->SetTextOverlay_Enabled(true);
  fc->SetTextOverlay_Font(Memo1Font());
  fc->SetTextOverlay_Left(OverlayOffset(fc->GetVideoSizeWidth(), TrackBar2->value()));
  fc->SetTextOverlay_Top(OverlayOffset(fc->GetVideoSizeHeight(), TrackBar1->value()));
  fc->SetTextOverlay_String(OverlayText(Memo1->toPlainText()));
}

void TKestromCaptureForm::chkTextClick() { ApplyTextOverlay(); }

void TKestromCaptureForm::Memo1Change() { Framecatcher->SetTextOverlay_String(OverlayText(Memo1->toPlainText())); }

void TKestromCaptureForm::TrackBar1Change() {
  Framecatcher->SetTextOverlay_Top(OverlayOffset(Framecatcher->GetVideoSizeHeight(), TrackBar1->value()));
}

void TKestromCaptureForm::TrackBar2Change() {
  Framecatcher->SetTextOverlay_Left(OverlayOffset(Framecatcher->GetVideoSizeWidth(), TrackBar2->value()));
}

void TKestromCaptureForm::Button12Click() {
  const std::optional<ui::FontChoice> chosen = ui::AppDialogs().ChooseFont(Memo1Font(), this);
  if (!chosen) return;
  Framecatcher->SetTextOverlay_Font(*chosen);
  SetMemo1Font(*chosen);
}

// ---------------------------------------------------------------- settings files

void TKestromCaptureForm::SaveTextButtonClick() {
  SaveFilterText(Globals().FilterTextFile, Memo1->toPlainText().split(QLatin1Char('\n')));
  SaveFilterFont(Globals().FilterFontFile);
}

void TKestromCaptureForm::SaveFilterFont(const QString& path) { capture::SaveFilterFont(path, Memo1Font()); }

void TKestromCaptureForm::LoadFilterFont(const QString& path) {
  ui::FontChoice font = Memo1Font();
  capture::LoadFilterFont(path, font);
  SetMemo1Font(font);
}

void TKestromCaptureForm::SaveSequenceDir() {
  capture::SaveSequenceDir(Globals().SequenceDirFile,
                           findChild<QLineEdit*>(QStringLiteral("FileDirectoryEditBox"))->text());
}

void TKestromCaptureForm::LoadSequenceDir() {
  const std::optional<QString> folder = capture::LoadSequenceDir(Globals().SequenceDirFile);
  if (!folder) return;
  findChild<QLineEdit*>(QStringLiteral("FileDirectoryEditBox"))->setText(*folder);
  OpenDirectory1.InitialDir = *folder;
}

void TKestromCaptureForm::OpenDirClick() {
  if (!OpenDirectory1.Execute(this)) return;
  auto* folder = findChild<QLineEdit*>(QStringLiteral("FileDirectoryEditBox"));
  folder->setText(OpenDirectory1.Directory);
  OpenDirectory1.InitialDir = folder->text();
  SaveSequenceDir();
}

}  // namespace kestrom::capture
