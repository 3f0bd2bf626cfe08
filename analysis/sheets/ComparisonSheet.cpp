#include "analysis/sheets/ComparisonSheet.h"

#include "analysis/sheets/SheetOutput.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>

namespace kestrom::sheets {

namespace {

QFont CaptionFont() {
  QFont font("Times New Roman");
  font.setPixelSize(11);
  return font;
}

QLabel* CaptionLabel(QWidget* parent, const QString& name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setFont(CaptionFont());
  label->setStyleSheet("background: white; color: black");
  return label;
}

// A window of fixed size around a client area of a given size.
QWidget* MakeClientArea(QMainWindow* form, QSize client) {
  auto* area = new QWidget(form);
  area->setObjectName("ClientArea");
  area->setAutoFillBackground(true);
  area->setFixedSize(client);
  form->setCentralWidget(area);
  form->layout()->setSizeConstraint(QLayout::SetFixedSize);
  return area;
}

constexpr Qt::WindowFlags kFixedBorder = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                         Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint;

}  // namespace

// ---- grid sheets --------------------------------------------------------------------------------

TComparisonSheet::TComparisonSheet(SheetKind kind, QWidget* parent)
    : QMainWindow(parent, kFixedBorder), geometry_(GeometryOf(kind)) {
  setObjectName(geometry_.name);
  setWindowTitle(QString("Multi Capture x %1").arg(geometry_.pictures));
  SaveDialog1 = JpegSaveDialog();

  QMenu* file = menuBar()->addMenu("File");
  CopytoClipboard1 = file->addAction("Copy to Clipboard", this, [this] { CopytoClipboard1Click(); });
  CopytoClipboard1->setObjectName("CopytoClipboard1");
  SaveasJPEG1 = file->addAction("Save as JPEG", this, [this] { SaveasJPEG1Click(); });
  SaveasJPEG1->setObjectName("SaveasJPEG1");
  Print1 = file->addAction("Print", this, [this] { Print1Click(); });
  Print1->setObjectName("Print1");
  Close2 = file->addAction("Close", this, [this] { Close2Click(); });
  Close2->setObjectName("Close2");
  Clear1 = menuBar()->addAction("Clear", this, [this] { Clear1Click(); });
  Clear1->setObjectName("Clear1");
  Clear1->setToolTip("Clear all images");
  Clear1->setStatusTip("Clear all images");
  UndoLastImage1 = menuBar()->addAction("Undo Last Image", this, [this] { UndoLastImage1Click(); });
  UndoLastImage1->setObjectName("UndoLastImage1");
  UndoLastImage1->setToolTip("Clear the last image");
  UndoLastImage1->setStatusTip("Clear the last image");

  ClientArea = MakeClientArea(this, geometry_.client);
  const QFont font = CaptionFont();
  for (int k = 1; k <= geometry_.pictures; ++k) {
    const QRect r = geometry_.SlotRect(k);
    auto* slot = new QLabel(ClientArea);
    slot->setObjectName(QString("Image%1").arg(k));
    slot->setScaledContents(true);
    slot->setGeometry(r);
    Slots.push_back(slot);

    QLabel* number = CaptionLabel(ClientArea, QString("NumberLabel%1").arg(k));
    number->setText(QString::number(k));
    number->adjustSize();
    number->move(r.left() + 4, r.bottom() + 1 - number->height());
    NumberLabels.push_back(number);

    // Right-aligned inside the slot's lower right corner; its width follows the text.
    QLabel* caption = CaptionLabel(ClientArea, QString("CaptionLabel%1").arg(k));
    caption->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    caption->hide();
    CaptionLabels.push_back(caption);
  }
  Pictures.resize(geometry_.pictures);

  // The blank picture: the class's blank rectangle (black outline, white fill) stretched over the
  // whole slot, drawn at the slot's own size so the outline stays one crisp pixel.
  blank_ = QImage(geometry_.slot, QImage::Format_RGB32);
  blank_.fill(Qt::white);
  QPainter painter(&blank_);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, blank_.width() - 1, blank_.height() - 1);
  painter.end();

  FormCreate();
}

void TComparisonSheet::FormCreate() { ClearImages(); }

void TComparisonSheet::BlankSlot(int k) {
  // The whole slot goes blank, whatever the size of the picture it held.
  Slots[k - 1]->setPixmap(QPixmap::fromImage(blank_));
  Pictures[k - 1] = QImage();
  QLabel* caption = CaptionLabels[k - 1];
  caption->clear();
  caption->hide();
}

void TComparisonSheet::ClearImages() {
  PictureCount = 0;
  for (int k = 1; k <= geometry_.pictures; ++k) BlankSlot(k);
}

void TComparisonSheet::AddImage(const QImage& picture, const QString& caption) {
  const int k = PictureCount + 1;
  if (k >= 1 && k <= geometry_.pictures) {
    PictureCount = k;
    Pictures[k - 1] = picture.copy();
    Slots[k - 1]->setPixmap(QPixmap::fromImage(Pictures[k - 1]));
    QLabel* label = CaptionLabels[k - 1];
    label->setText(caption);
    label->adjustSize();
    const QRect r = geometry_.SlotRect(k);
    label->move(r.right() + 1 - label->width(), r.bottom() + 1 - label->height());
    label->setVisible(!caption.isEmpty());
  }
  show();
  raise();
  activateWindow();
}

void TComparisonSheet::RemoveLastImage() {
  const int k = PictureCount;
  if (k >= 1 && k <= geometry_.pictures) BlankSlot(k);
  PictureCount = std::max(0, k - 1);
}

QImage TComparisonSheet::ClientImage() {
  return ClientArea->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QSize TComparisonSheet::ClientSize() const { return ClientArea->size(); }

void TComparisonSheet::CopytoClipboard1Click() { CopyPictureToClipboard(ClientImage()); }

void TComparisonSheet::SaveasJPEG1Click() { SavePictureAsJpeg(ClientImage(), SaveDialog1, this); }

void TComparisonSheet::Print1Click() { PrintPictureWithDialog(ClientImage(), windowTitle(), this); }

void TComparisonSheet::Close2Click() { hide(); }

void TComparisonSheet::Clear1Click() { ClearImages(); }

void TComparisonSheet::UndoLastImage1Click() { RemoveLastImage(); }

#define KESTROM_SHEET(Name) \
  T##Name::T##Name(QWidget* parent) : TComparisonSheet(SheetKind::Name, parent) {}
KESTROM_SHEET(V_Capture_4)
KESTROM_SHEET(H_Capture_4)
KESTROM_SHEET(V_Capture_4_L)
KESTROM_SHEET(H_Capture_6)
KESTROM_SHEET(V_Capture_6_L)
KESTROM_SHEET(V_Capture_9)
KESTROM_SHEET(H_Capture_9)
KESTROM_SHEET(V_Capture_12)
KESTROM_SHEET(H_Capture_12)
KESTROM_SHEET(V_Capture_12_L)
KESTROM_SHEET(V_Capture_18_L)
#undef KESTROM_SHEET

TV_Capture_6::TV_Capture_6(QWidget* parent) : TComparisonSheet(SheetKind::V_Capture_6, parent) {
  Slots[0]->installEventFilter(this);
}

void TV_Capture_6::Image1Click() { SaveasJPEG1Click(); }

bool TV_Capture_6::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Slots[0] && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Image1Click();
    return true;
  }
  return TComparisonSheet::eventFilter(watched, event);
}

TComparisonSheet* CreateSheet(SheetKind kind, QWidget* parent) {
  switch (kind) {
    case SheetKind::V_Capture_4: return new TV_Capture_4(parent);
    case SheetKind::H_Capture_4: return new TH_Capture_4(parent);
    case SheetKind::V_Capture_4_L: return new TV_Capture_4_L(parent);
    case SheetKind::V_Capture_6: return new TV_Capture_6(parent);
    case SheetKind::H_Capture_6: return new TH_Capture_6(parent);
    case SheetKind::V_Capture_6_L: return new TV_Capture_6_L(parent);
    case SheetKind::V_Capture_9: return new TV_Capture_9(parent);
    case SheetKind::H_Capture_9: return new TH_Capture_9(parent);
    case SheetKind::V_Capture_12: return new TV_Capture_12(parent);
    case SheetKind::H_Capture_12: return new TH_Capture_12(parent);
    case SheetKind::V_Capture_12_L: return new TV_Capture_12_L(parent);
    case SheetKind::V_Capture_18_L: return new TV_Capture_18_L(parent);
  }
  return nullptr;
}

// ---- single picture -----------------------------------------------------------------------------

TSinglePictureSheet::TSinglePictureSheet(QWidget* parent) : QMainWindow(parent, Qt::Window) {
  setObjectName("Capture1");
  setWindowTitle("Capture x 1");
  QMenu* file = menuBar()->addMenu("File");
  Copy1 = file->addAction("Copy to Clipboard", this, [this] { Copy1Click(); });
  Copy1->setObjectName("Copy1");
  SaveasJPEG1 = file->addAction("Save as JPEG", this, [this] { SaveasJPEG1Click(); });
  SaveasJPEG1->setObjectName("SaveasJPEG1");
  Print1 = file->addAction("Print", this, [this] { Print1Click(); });
  Print1->setObjectName("Print1");
  Close2 = file->addAction("Close", this, [this] { Close2Click(); });
  Close2->setObjectName("Close2");

  ClientArea = MakeClientArea(this, QSize(480, 594));
  Image1 = new QLabel(ClientArea);
  Image1->setObjectName("Image1");
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setGeometry(0, 0, 480, 576);
  CaptionLabel = sheets::CaptionLabel(ClientArea, "CaptionLabel");
  CaptionLabel->hide();
}

void TSinglePictureSheet::SetClientSize(int width, int height) {
  ClientArea->setFixedSize(std::max(1, width), std::max(1, height));
  adjustSize();
}

QSize TSinglePictureSheet::ClientSize() const { return ClientArea->size(); }

void TSinglePictureSheet::SetPicture(const QImage& picture) {
  Image1->setPixmap(QPixmap::fromImage(picture));
  Image1->resize(picture.size());
}

void TSinglePictureSheet::SetCaption(const QString& text, int left, int top) {
  CaptionLabel->setText(text);
  CaptionLabel->adjustSize();
  CaptionLabel->move(left, top);
  CaptionLabel->setVisible(!text.isEmpty());
  CaptionLabel->raise();
}

QImage TSinglePictureSheet::ClientImage() {
  return ClientArea->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void TSinglePictureSheet::Copy1Click() { CopyPictureToClipboard(ClientImage()); }

void TSinglePictureSheet::Print1Click() { PrintPictureWithDialog(ClientImage(), windowTitle(), this); }

void TSinglePictureSheet::Close2Click() { hide(); }

void TSinglePictureSheet::SaveasJPEG1Click() { SavePictureAsJpeg(ClientImage(), JpegSaveDialog(), this); }

}  // namespace kestrom::sheets
