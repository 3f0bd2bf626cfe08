#include "common/startup/DiagForm806.h"
#include "common/mediapanel/ActiveMovie.h"

#include "platform/ui/FormSupport.h"
#include "common/startup/GlobalPaths.h"
#include "platform/core/Format.h"
#include "platform/winmsg/WinMsg.h"

#include <QEvent>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>

namespace kestrom::shell {

namespace {
QString ButtonCaption(int n) {
  switch (n) {
    case 2: return "M and C";
    case 26: return "Show Cuttings";
    case 27: return "Common Window";
    case 57: return "Clear";
    case 63: return "Test";
    case 64: return "System Type";
    default: return QString("Button%1").arg(n);
  }
}
}  // namespace

TDiagForm806::TDiagForm806(QWidget* parent, bool captureProgram)
    : QDialog(parent), source_(DirectoryWindowTitles) {
  setObjectName("DiagForm806");
  setWindowTitle("DiagForm806");
  resize(848, 860);
  ui::PlaceForm(this, 1117, 175);

  // Four columns of read-out buttons; only their names and texts matter.
  const int lastButton = captureProgram ? 63 : 64;
  for (int n = 1; n <= lastButton; ++n) {
    const int column = (n - 1) / 16, row = (n - 1) % 16;
    buttons_[n] = ui::AddButton(this, QString("Button%1").arg(n), ButtonCaption(n), 8 + column * 208, 8 + row * 28,
                            200, 24);
  }
  connect(buttons_[1], &QPushButton::clicked, this, [this] { Button1Click(); });
  for (int n : {14, 15, 18}) connect(buttons_[n], &QPushButton::clicked, this, [this, n] { ClearCaption(n); });
  connect(buttons_[20], &QPushButton::clicked, this, [this] { Button20Click(); });
  connect(buttons_[57], &QPushButton::clicked, this, [this] { Button57Click(); });
  connect(buttons_[63], &QPushButton::clicked, this, [this] { Button63Click(); });

  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setSortingEnabled(true);
  ListBox1->setGeometry(8, 464, 560, 200);

  SpinEdit1 = new QSpinBox(this);
  SpinEdit1->setObjectName("SpinEdit1");
  SpinEdit1->setRange(10, 300);
  SpinEdit1->setValue(100);
  SpinEdit1->setGeometry(584, 464, 100, 24);
  SpinEdit1->installEventFilter(this);

  ScrollBar1 = new QScrollBar(Qt::Horizontal, this);
  ScrollBar1->setObjectName("ScrollBar1");
  ScrollBar1->setRange(10, 300);
  ScrollBar1->setValue(100);
  ScrollBar1->setGeometry(584, 496, 250, 18);
  connect(ScrollBar1, &QScrollBar::sliderMoved, this, [this](int position) { ScrollBar1Scroll(position); });
  connect(ScrollBar1, &QScrollBar::actionTriggered, this,
          [this](int) { ScrollBar1Scroll(ScrollBar1->sliderPosition()); });

  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setObjectName("TrackBar1");
  TrackBar1->setGeometry(584, 524, 250, 24);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(8, 672, 560, 180);

  // The media player panel of the form; nothing drives it.
  auto* movie = new mediapanel::TActiveMovie(this);
  movie->setObjectName("ActiveMovie1");
  movie->setGeometry(584, 560, 240, 200);
  movie->SetAutoStart(true);
  movie->SetJPEGQuality(100);
  movie->SetFGrabber_Enabled(false);
  ActiveMovie1 = movie;
}

bool TDiagForm806::EnumWindowTitles(const QString& title) {
  const QString cut = title.left(kMaxTitle);
  if (!cut.isEmpty()) ListBox1->addItem(cut);
  return true;
}

bool TDiagForm806::Count(const QStringList& titles, int readOutButton) {
  ListBox1->clear();
  if (source_) {
    for (const QString& title : source_()) {
      if (!EnumWindowTitles(title)) break;
    }
  }
  int count = 0;
  for (int i = 0; i < ListBox1->count(); ++i) {
    const QString entry = ListBox1->item(i)->text();
    for (const QString& title : titles) {
      if (entry == title) ++count;
    }
    ReadOut(readOutButton, QString::number(count));
  }
  return count > 0;
}

bool TDiagForm806::CountCaptureWindows() {
  return Count({QStringLiteral("Kestrom Capture"), CaptureWindowTitle}, 60);
}

bool TDiagForm806::CountPlayListWindows() {
  return Count({QStringLiteral("Kestrom Playlist and Video Editing")}, 61);
}

bool TDiagForm806::CountAnalysisWindows() { return Count({AnalysisWindowTitle}, 61); }

QPushButton* TDiagForm806::ButtonNo(int n) const { return n >= 1 && n <= 64 ? buttons_[n] : nullptr; }

void TDiagForm806::ReadOut(int button, const QString& text) {
  if (QPushButton* b = ButtonNo(button)) b->setText(text);
}

void TDiagForm806::ClearCaption(int button) { ReadOut(button, QString()); }

void TDiagForm806::Button1Click() {
  for (int n : {1, 14, 15}) ClearCaption(n);
  ReadOut(1, core::FormatFloat("0000.00", 50.03));
}

void TDiagForm806::Button20Click() {
  ClearCaption(20);
  ClearCaption(21);
}

void TDiagForm806::Button57Click() {
  ClearCaption(55);
  ClearCaption(56);
}

void TDiagForm806::SpinEdit1Enter() { ReadOut(20, "entered"); }

void TDiagForm806::SpinEdit1Exit() { ReadOut(21, "exit"); }

void TDiagForm806::ScrollBar1Scroll(int position) { ReadOut(24, QString::number(position)); }

void TDiagForm806::Button63Click() { CountAnalysisWindows(); }

bool TDiagForm806::eventFilter(QObject* watched, QEvent* event) {
  if (watched == SpinEdit1) {
    if (event->type() == QEvent::FocusIn) SpinEdit1Enter();
    if (event->type() == QEvent::FocusOut) SpinEdit1Exit();
  }
  return QDialog::eventFilter(watched, event);
}

QStringList DirectoryWindowTitles() {
  QStringList titles;
  for (const winmsg::WindowInfo& window : winmsg::EnumWindows()) titles << window.title;
  return titles;
}

}  // namespace kestrom::shell
