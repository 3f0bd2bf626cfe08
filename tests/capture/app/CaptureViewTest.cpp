// What the coach sees of the capture program's forms, read from their pixels and their texts: the
// whole camera picture in the preview, panels that hide what lies under them, and captions that
// fit their controls in the test's Linux font.

#include "CaptureFormFixture.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/PreallocatedCaptureForm.h"
#include "capture/engine/DisplayForm.h"
#include "platform/dshow/sources/TestDevices.h"
#include "tools/ClipWriter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdlib>
#include <set>

namespace kestrom::capture {
namespace {

/** @brief Pixels of the widget's area that nothing of it paints (rendered over magenta). */
int SeeThroughPixels(QWidget* widget) {
  QPixmap pixmap(widget->size());
  pixmap.fill(Qt::magenta);
  widget->render(&pixmap, QPoint(), QRegion(), QWidget::DrawChildren);
  const QImage image = pixmap.toImage();
  int through = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) through += image.pixel(x, y) == QColor(Qt::magenta).rgb();
  return through;
}

/** @brief Width the control needs to show its text whole, measured as the user would see it. */
int TextRoom(const QWidget* w) {
  if (const auto* b = qobject_cast<const QPushButton*>(w))
    return b->fontMetrics().horizontalAdvance(QString(b->text()).remove('&')) + 8;
  if (const auto* b = qobject_cast<const QAbstractButton*>(w); b && !qobject_cast<const QCheckBox*>(w) &&
                                                                 !qobject_cast<const QRadioButton*>(w))
    return b->fontMetrics().horizontalAdvance(b->text()) + 6;
  return w->sizeHint().width();
}

/** @brief Why the control's text does not show whole; empty when it does. */
std::string Cut(const QWidget* w, const QString& text) {
  std::string why;
  if (TextRoom(w) > w->width())
    why += " needs " + std::to_string(TextRoom(w)) + " has " + std::to_string(w->width());
  if (const QWidget* parent = w->parentWidget(); parent && w->geometry().right() >= parent->width())
    why += " runs past its parent (" + std::to_string(w->geometry().right()) + ")";
  return why.empty() ? why : w->objectName().toStdString() + " \"" + text.toStdString() + "\"" + why;
}

class CaptureAppView : public CaptureFormFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureFormFixture::SetUp());
    UseTestCameraOnly();
    Start();
    ASSERT_EQ(State(), engine::cs_Preview);
  }
  template <typename T = QWidget>
  T* Child(const char* name) const {
    T* w = form_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
};

// The test camera's number band, flipped to the picture's last rows, shows in the preview at the
// default zoom: the whole 640x480 picture fits the panel, boxed to keep its shape.
TEST_F(CaptureAppView, ThePreviewShowsThePicturesLastRowAtTheDefaultZoom) {
  EXPECT_EQ(form_->edtDisplaySize->text(), "78%");
  form_->chkFlipVertical->setChecked(true);
  form_->Button2->click();  // the preview starts again with the flip
  ASSERT_EQ(State(), engine::cs_Preview);
  engine::TDisplayForm* display = form_->Framecatcher->Engine().DisplayForm(engine::TFK::ds_Display);
  ASSERT_NE(display, nullptr);
  QWidget* panel = form_->PreviewPanel;
  const QRect picture(display->mapTo(panel, display->VideoRect().topLeft()), display->VideoRect().size());
  EXPECT_TRUE(panel->rect().contains(picture)) << picture.width() << "x" << picture.height() << " at "
                                               << picture.x() << "," << picture.y();
  EXPECT_NEAR(double(picture.width()) / picture.height(), 4.0 / 3.0, 0.01);
  // The band's white guard block, at the left of the picture's last eighth.
  const QPoint guard(picture.left() + picture.width() / 28, picture.bottom() - picture.height() / 16);
  ASSERT_TRUE(panel->rect().contains(guard));
  EXPECT_TRUE(WaitFor([&] { return qGray(panel->grab().toImage().pixel(guard)) > 200; }))
      << "grey " << qGray(panel->grab().toImage().pixel(guard));
}

// Every panel the form shows over its pages paints the whole of its area, and its texts show
// whole inside it.
TEST_F(CaptureAppView, PanelsShownOverThePagesHideWhatIsUnderThem) {
  for (const char* name : {"ReportBox", "StopRecordingPanel", "Panel4", "Panel2", "SequenceCapturePanel"}) {
    SCOPED_TRACE(name);
    QWidget* panel = Child(name);
    panel->show();
    EXPECT_EQ(SeeThroughPixels(panel), 0);
    for (QLabel* label : panel->findChildren<QLabel*>()) {
      label->setText(label->text().isEmpty() ? QStringLiteral("Adequate") : label->text());
      EXPECT_EQ(Cut(label, label->text()), "");
    }
    panel->hide();
  }
}

// A re-encoding shows its panel, with its text and progress, while it runs.
TEST_F(CaptureAppView, AReencodingShowsItsPanelWhileItRuns) {
  QTemporaryDir clips;
  tools::ClipSpec options;
  options.path = QDir(clips.path()).filePath("clip.avi");
  options.frames = 40;
  options.size = {320, 240};
  ASSERT_TRUE(tools::WriteClip(options));
  dialogs_.dialogs.Push(options.path);
  form_->AnyClipButton->click();
  ASSERT_EQ(State(), engine::cs_Player);

  QWidget* panel = Child("Panel2");
  bool seen = false;
  int through = -1;
  QString text;
  QObject::connect(form_->mmoLog, &QPlainTextEdit::textChanged, panel, [&] {
    if (seen || !form_->mmoLog->toPlainText().contains("% completed...")) return;
    seen = panel->isVisible();
    through = SeeThroughPixels(panel);
    if (auto* label = panel->findChild<QLabel*>()) text = label->text();
  });
  dialogs_.dialogs.Push(QDir(clips.path()).filePath("saved.avi"));
  dialogs_.dialogs.Push(ui::mrNo);
  form_->SaveBitBtn->click();
  ASSERT_TRUE(WaitFor([&] { return LogLines().contains("recompression successful..."); }))
      << LogLines().join('|').toStdString();
  EXPECT_TRUE(seen) << "the panel shows during the run";
  EXPECT_EQ(through, 0);
  EXPECT_FALSE(text.isEmpty());
  EXPECT_FALSE(panel->isVisible()) << "and goes with it";
}

// Captions measured against their controls, in the font the tests draw with.
TEST_F(CaptureAppView, CaptionsFitTheirControls) {
  // Controls whose text was cut, and the counters' captions.
  std::vector<QWidget*> controls = {Child("cboVideoCompressors"), Child("cboVideoCompressors2"),
                                    Child("VideoSettingsButton"), Child("Button7")};
  for (QWidget* w : form_->findChildren<QLabel*>()) controls.push_back(w);
  for (QAbstractButton* b : form_->findChildren<QAbstractButton*>())
    if (b->parentWidget() != form_->PageControl1->tabBar()) controls.push_back(b);
  for (QWidget* w : controls) {
    const auto* box = qobject_cast<QComboBox*>(w);
    const QString text = box ? box->currentText() : w->property("text").toString();
    EXPECT_EQ(Cut(w, text), "");
  }

  // The "File Name", "Folder" and "Number" captions stand left of their fields.
  for (const auto& [caption, field] : {std::pair{"SequenceFolderLabel", "FileDirectoryEditBox"},
                                       {"SequenceNameLabel", "FileNameEditBox"},
                                       {"SequenceNumberLabel", "SequenceNumberSpinEdit"}}) {
    const QWidget* label = Child<QLabel>(caption);
    EXPECT_LT(label->geometry().right(), Child(field)->x()) << caption;
  }

  // Each counter has a caption a coach reads, next to it.
  for (const char* counter : {"CaptureFrameCount", "CaptureDroppedCount", "CaptureTimeCount", "edtDVDateTime",
                              "RelayFrameCount", "RelayDroppedCount", "RelayTimeCount"}) {
    const QLineEdit* edit = Child<QLineEdit>(counter);
    const QLabel* caption = nullptr;
    for (const QLabel* l : form_->findChildren<QLabel*>())
      if (l->buddy() == edit) caption = l;
    ASSERT_NE(caption, nullptr) << counter;
    EXPECT_GE(caption->text().size(), 3) << counter;
    EXPECT_FALSE(caption->geometry().intersects(edit->geometry())) << counter;
    EXPECT_LE(std::abs(caption->x() - edit->x()), 4) << counter << ": its caption stands above it";
  }

  // The transport buttons cannot take their hints: each shows a short form of its own, and its
  // hint says what it does.
  std::set<QString> shown;
  for (const DVButton& dv : DVButtons()) {
    const auto* button = Child<QAbstractButton>(dv.button);
    EXPECT_EQ(button->toolTip(), dv.hint);
    EXPECT_EQ(Cut(button, button->text()), "");
    EXPECT_TRUE(shown.insert(button->text()).second) << dv.hint << " reads like another: " << button->text().toStdString();
  }
}

// The preallocation form widens to its longest line.
TEST_F(CaptureAppView, ThePreallocationFormShowsItsTextsWhole) {
  TPreallocatedCaptureForm prealloc(mediator_);
  for (const char* name : {"Panel1", "Panel3", "Panel4", "Panel5", "Panel6"}) {
    SCOPED_TRACE(name);
    QWidget* panel = prealloc.findChild<QWidget*>(QString::fromLatin1(name));
    ASSERT_NE(panel, nullptr);
    EXPECT_LE(panel->geometry().right(), prealloc.width() - 1);
    for (QLabel* label : panel->findChildren<QLabel*>()) EXPECT_EQ(Cut(label, label->text()), "");
    for (QAbstractButton* button : panel->findChildren<QAbstractButton*>()) EXPECT_EQ(Cut(button, button->text()), "");
  }
}

}  // namespace
}  // namespace kestrom::capture
