#include "analysis/window/Sheets.h"

#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Palettes.h"
#include "platform/media/MediaPlayer.h"

#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

namespace {
const QSize kPortrait(480, 576), kHorizontal(720, 320);
}

TComparisonSheet::TComparisonSheet(const SheetGeometry& geometry, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint),
      geometry_(geometry) {
  setObjectName(geometry.name);
  setWindowTitle(QString("Multi Capture x %1").arg(geometry.pictures));
  setFixedSize(geometry.client);
  QFont captionFont("Times New Roman");
  captionFont.setPixelSize(11);
  for (int k = 0; k < geometry.pictures; ++k) {
    const int left = geometry.columns[k % geometry.columns.size()];
    const int top = geometry.rows[k / geometry.columns.size()];
    auto* slot = new QLabel(this);
    slot->setObjectName(QString("Image%1").arg(k + 1));
    slot->setScaledContents(true);
    slot->setGeometry(QRect(QPoint(left, top), geometry.slot));
    Slots.push_back(slot);
    auto* number = new QLabel(QString::number(k + 1), this);
    number->setObjectName(QString("NumberLabel%1").arg(k + 1));
    number->setFont(captionFont);
    number->setStyleSheet("background: white");
    number->adjustSize();
    number->move(left + 4, top + geometry.slot.height() - number->height());
    NumberLabels.push_back(number);
    auto* caption = new QLabel(this);
    caption->setObjectName(QString("CaptionLabel%1").arg(k + 1));
    caption->setFont(captionFont);
    caption->setStyleSheet("background: white");
    caption->setAlignment(Qt::AlignRight);
    caption->setGeometry(left + geometry.slot.width() - 60, top + geometry.slot.height() - 14, 56, 14);
    CaptionLabels.push_back(caption);
  }
  ClearImages();
}

void TComparisonSheet::ClearImages() {
  PictureCount = 0;
  QImage blank(geometry_.blank, QImage::Format_RGB32);
  blank.fill(Qt::white);
  QPainter painter(&blank);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, blank.width() - 1, blank.height() - 1);
  painter.end();
  for (QLabel* slot : Slots) slot->setPixmap(QPixmap::fromImage(blank));
  for (QLabel* caption : CaptionLabels) caption->clear();
}

#define KESTROM_SHEET(Name, N, slotW, slotH, cols, rowsList, clientW, clientH, blankSize)                      \
  T##Name::T##Name(QWidget* parent)                                                                          \
      : TComparisonSheet({#Name, N, QSize(slotW, slotH), QList<int> cols, QList<int> rowsList,               \
                          QSize(clientW, clientH), blankSize},                                               \
                         parent) {}
KESTROM_SHEET(V_Capture_4, 4, 240, 288, ({16, 272}), ({16, 312}), 531, 631, kPortrait)
KESTROM_SHEET(H_Capture_4, 4, 432, 140, ({16, 456}), ({8, 160}), 906, 336, kHorizontal)
KESTROM_SHEET(V_Capture_4_L, 4, 240, 288, ({16, 272, 528, 784}), ({16}), 1041, 332, kPortrait)
KESTROM_SHEET(V_Capture_6, 6, 240, 288, ({16, 272, 528}), ({16, 320}), 784, 638, kPortrait)
KESTROM_SHEET(H_Capture_6, 6, 432, 140, ({16, 456}), ({8, 160, 312}), 906, 478, kHorizontal)
KESTROM_SHEET(V_Capture_6_L, 6, 160, 192, ({16, 184, 352, 520, 688, 856}), ({16}), 1042, 240, kPortrait)
KESTROM_SHEET(V_Capture_9, 9, 160, 192, ({16, 192, 368}), ({16, 224, 432}), 549, 655, kPortrait)
KESTROM_SHEET(H_Capture_9, 9, 288, 93, ({16, 312, 608}), ({8, 112, 216}), 912, 345, kHorizontal)
KESTROM_SHEET(V_Capture_12, 12, 160, 192, ({16, 192, 368, 544}), ({16, 224, 432}), 716, 655, kPortrait)
KESTROM_SHEET(H_Capture_12, 12, 288, 93, ({16, 312, 608}), ({8, 112, 216, 320}), 912, 435, kHorizontal)
KESTROM_SHEET(V_Capture_12_L, 12, 160, 192, ({16, 184, 352, 520, 688, 856}), ({16, 216}), 1042, 438, kPortrait)
KESTROM_SHEET(V_Capture_18_L, 18, 160, 192, ({16, 184, 352, 520, 688, 856}), ({16, 216, 416}), 1042, 640,
              kPortrait)
#undef KESTROM_SHEET

// ---- single picture -----------------------------------------------------------------------------

TCapture1::TCapture1(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("Capture1");
  setWindowTitle("Capture x 1");
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(0, 0, 480, 576);
  CaptionLabel = new QLabel(this);
  CaptionLabel->setObjectName("CaptionLabel");
  QFont captionFont("Times New Roman");
  captionFont.setPixelSize(11);
  CaptionLabel->setFont(captionFont);
  SetClientSize(480, 594);
  FormCreate();
}

void TCapture1::SetClientSize(int width, int height) { resize(width, height); }

void TCapture1::SetPicture(const QImage& picture) {
  Image1->setPixmap(QPixmap::fromImage(picture));
  Image1->resize(picture.size());
}

void TCapture1::FormCreate() {
  AppForms& forms = Forms();
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  if (!main || !best) return;
  best->SplitScreenButton->hide();
  best->SpeedButton4->hide();
  best->Teaching->hide();

  main->MarkerForm->OwnerIndex = 1;
  main->MarkerForm->setWindowTitle("Markers - Main");
  best->MarkerForm->OwnerIndex = 2;
  best->MarkerForm->setWindowTitle("Markers - Best");
  main->ShapesControlForm->OwnerIndex = 1;
  main->ShapesControlForm->setWindowTitle("Shapes - Main");
  best->ShapesControlForm->OwnerIndex = 2;
  best->ShapesControlForm->setWindowTitle("Shapes - Best");
  main->AnglesControlForm->OwnerIndex = 1;
  main->AnglesControlForm->setWindowTitle("Angles - Main");
  best->AnglesControlForm->OwnerIndex = 2;
  best->AnglesControlForm->setWindowTitle("Angles - Best");

  main->MediaPlayer1->SetDisplay(&main->WindowCanvas);
  best->MediaPlayer1->SetDisplay(&best->WindowCanvas);

  main->IsMain = true;
  main->IsBest = false;
  best->IsMain = false;
  best->IsBest = true;

  const QFont font = main->font();
  forms.SharedTextFont.name = font.family();
  forms.SharedTextFont.size = font.pointSize() > 0 ? font.pointSize() : 10;
  forms.SharedTextFont.bold = font.bold();
  forms.SharedTextFont.italic = font.italic();
  main->TextFontButton->setFont(font);
  best->TextFontButton->setFont(font);

  best->CreateExportAVIButton->hide();
  best->CancelAVIExportButton->hide();

  main->StartTimer->setInterval(5);
  main->StartTimer->start();
}

// ---- e-mail -------------------------------------------------------------------------------------

TEmailForm::TEmailForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("EmailForm");
  setWindowTitle("Kestrom Outlook Express Link");
  resize(793, 438);
}

}  // namespace kestrom::window
