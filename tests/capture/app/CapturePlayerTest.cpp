// The capture form's player page on the real component and test camera: opening coded clips,
// stepping, trimming, and saving the trimmed part through the re-encoding script, read back frame
// by frame through the media layer. Also the page's rules without widgets.

#include "CaptureFormFixture.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/app/TrimScript.h"
#include "capture/engine/DeviceProvider.h"
#include "capture/engine/DisplayForm.h"
#include "capture/engine/SyncManager.h"
#include "platform/core/TextFile.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>

namespace kestrom::capture {
namespace {

/** @brief The frame codes of a file, in order; empty when it cannot be opened. */
std::vector<int> Codes(const QString& file) {
  media::VideoReader reader;
  std::vector<int> codes;
  if (!reader.Open(file)) return codes;
  for (int64_t k = 0; k < reader.Info().frameCount; ++k) codes.push_back(tools::ReadFrameCode(reader.Frame(k)));
  return codes;
}

/**
 * @brief A copy of an AVI cut halfway into its video chunk after the first whole ones, as a copy
 * broken off or a disk filled would leave it: the header still promises every frame, and there
 * is no index.
 */
bool CopyCutAfterFrames(const QString& clip, int whole, const QString& dest) {
  QFile in(clip);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = in.readAll();
  const auto le32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
  qsizetype pos = bytes.indexOf("movi") + 4;
  int seen = 0;
  while (pos > 4 && pos + 8 <= bytes.size()) {
    const QByteArray id = bytes.mid(pos, 4);
    const quint32 length = le32(pos + 4);
    if (id.endsWith("dc") || id.endsWith("db")) {
      if (seen++ == whole) {
        QFile out(dest);
        return out.open(QIODevice::WriteOnly) && out.write(bytes.left(pos + 8 + length / 2)) > 0;
      }
    }
    pos += 8 + length + (length & 1);
  }
  return false;
}

std::vector<int> Numbers(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

class CaptureAppPlayer : public CaptureFormFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureFormFixture::SetUp());
    dshow::SetTestDevicesLive(false);
    UseTestCameraOnly();
    Start();
    ASSERT_EQ(State(), engine::cs_Preview);
  }

  QString InClips(const QString& name) const { return QDir(clips_.path()).filePath(name); }
  /** @brief A 320x240 MPEG-4 V2 clip whose pictures carry their numbers. */
  QString WriteClip(const QString& name, int frames, int rate = 25, QSize size = {320, 240}) {
    tools::ClipSpec clip;
    clip.path = InClips(name);
    clip.frames = frames;
    clip.size = size;
    clip.rateNum = rate;
    QString error;
    EXPECT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
    return clip.path;
  }
  /** @brief "play any clip" with the clip chosen in the open dialog. */
  void OpenClip(const QString& clip) {
    dialogs_.dialogs.Push(clip);
    form_->AnyClipButton->click();
  }
  /** @brief Trims in..out and saves to dest, answering No to playing the result; true when it completed. */
  bool SaveTrimmed(int trimIn, int trimOut, const QString& dest) {
    form_->TrimInSpinEdit->setValue(trimIn);
    form_->TrimOutSpinEdit->setValue(trimOut);
    dialogs_.dialogs.Push(dest);
    dialogs_.dialogs.Push(ui::mrNo);
    form_->SaveBitBtn->click();
    return WaitFor([&] { return LogLines().contains("recompression successful..."); });
  }

  QTemporaryDir clips_;
};

// ---------------------------------------------------------------- rules without widgets

TEST(CaptureAppPlayerRules, TheScriptCountsTrimsFromZeroAndRefusesPathsThatBreakIt) {
  const struct {
    int in, out;
    const char* line;
  } trims[] = {{5, 9, "Trim(4 , 8)"}, {1, 40, "Trim(0 , 39)"}, {7, 7, "Trim(6 , 6)"},
               // Trim(0 , 0) would keep the whole clip: the first frame alone is one frame from 0.
               {1, 1, "Trim(0 , -1)"}, {1, 2, "Trim(0 , 1)"}};
  for (const auto& t : trims) EXPECT_EQ(TrimLine(t.in, t.out), t.line) << t.in << ".." << t.out;

  EXPECT_EQ(ReencodeScriptLines("/v/a b.avi", 5, 9),
            QStringList({"DirectShowSource(\"/v/a b.avi\") ", "Trim(4 , 8)", "SeparateFields", "SelectOdd", "Bob"}));
  for (const char* bad : {"/v/a\"b.avi", "/v/a\nb.avi", "/v/a\rb.avi"}) EXPECT_FALSE(ReencodeScriptLines(bad, 1, 2));

  QTemporaryDir dir;
  const QString script = QDir(dir.path()).filePath("Input.avs");
  ASSERT_TRUE(WriteReencodeScript(script, "/v/clip.avi", 2, 3));
  QFile file(script);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), "DirectShowSource(\"/v/clip.avi\") \r\nTrim(1 , 2)\r\nSeparateFields\r\nSelectOdd\r\nBob\r\n");
  file.close();
  EXPECT_FALSE(WriteReencodeScript(script, "/v/\"x.avi", 2, 3));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().contains("clip.avi")) << "a refused path leaves the old script";
}

TEST(CaptureAppPlayerRules, SpeedRatioRenderOptionsAndTrimBar) {
  const struct {
    double rate;
    double ratio;
  } speeds[] = {{25, 0.4}, {39.99, 0.4}, {40, 0.2}, {50, 0.2}, {70, 0.2}, {70.01, 0.1}, {120, 0.1}};
  for (const auto& s : speeds) EXPECT_EQ(PlayerSpeedRatioFor(s.rate), s.ratio) << s.rate;

  EXPECT_TRUE(RenderOptionsOffered(720, 25));
  EXPECT_TRUE(RenderOptionsOffered(381, 39.9));
  EXPECT_FALSE(RenderOptionsOffered(380, 25)) << "narrow clips whatever their rate";
  EXPECT_FALSE(RenderOptionsOffered(720, 40));

  EXPECT_EQ(ClipFrameRate(50, 20000000), 25.0);
  EXPECT_FALSE(ClipFrameRate(50, 999)) << "under 0.0001 s";
  EXPECT_FALSE(ClipFrameRate(0, 0));

  EXPECT_EQ(TrimInPanelWidth(5, 340, 40), 42) << "42.5 goes to the even neighbour";
  EXPECT_EQ(TrimOutPanelWidth(40, 340, 40), 0);
  EXPECT_EQ(TrimOutPanelWidth(30, 340, 40), 85);
  EXPECT_EQ(TrimInPanelWidth(5, 340, 0), 0);
}

// ---------------------------------------------------------------- the form

// A 40-frame coded clip saved trimmed: what the scroll bar calls frames in..out is what the new
// file holds, the first frame alone included.
TEST_F(CaptureAppPlayer, TrimmedSavesHoldExactlyTheFramesBetweenTheTrims) {
  const QString clip = WriteClip("clip.avi", 40);
  OpenClip(clip);
  ASSERT_EQ(State(), engine::cs_Player);
  EXPECT_EQ(form_->PageControl1->currentIndex(), PlayerPage);
  EXPECT_EQ(form_->ScrollBar1->maximum(), 40);
  EXPECT_EQ(form_->TrimInSpinEdit->value(), 1);
  EXPECT_EQ(form_->TrimOutSpinEdit->value(), 40);
  EXPECT_EQ(form_->TrimOutSpinEdit->maximum(), 40);
  EXPECT_EQ(form_->Framecatcher->GetPlayerSpeedRatio(), 0.4);
  EXPECT_FALSE(form_->AudioBox->isEnabled()) << "the clip has no sound";
  EXPECT_TRUE(LogLines().contains("frame rate: 25.00 fps.")) << LogLines().join('|').toStdString();

  const struct {
    int in, out;
    std::vector<int> frames;
  } cases[] = {{5, 9, Numbers(4, 8)}, {1, 1, {0}}, {1, 40, Numbers(0, 39)}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << ".." << c.out);
    if (State() != engine::cs_Player) OpenClip(clip);
    const QString dest = InClips(QString("trimmed%1.avi").arg(++n));
    form_->mmoLog->clear();
    ASSERT_TRUE(SaveTrimmed(c.in, c.out, dest)) << LogLines().join('|').toStdString();
    EXPECT_EQ(Codes(dest), c.frames);
    EXPECT_EQ(mediator_.LastCompressedFile, dest);
    EXPECT_EQ(State(), engine::cs_Preview) << "No to playing it: back to preview";
  }
  const std::optional<QString> script = core::ReadTextFile(QDir(Globals().WorkingFolder).filePath("Input.avs"));
  ASSERT_TRUE(script);
  EXPECT_EQ(*script, "DirectShowSource(\"" + clip + "\") \r\nTrim(0 , 39)\r\nSeparateFields\r\nSelectOdd\r\nBob\r\n");
  EXPECT_EQ(Codes(clip), Numbers(0, 39)) << "the source is untouched";

  // 50 frames a second: a slower ratio, and no render options whatever the size.
  OpenClip(WriteClip("fast.avi", 20, 50));
  EXPECT_EQ(form_->Framecatcher->GetPlayerSpeedRatio(), 0.2);
  EXPECT_FALSE(form_->RenderVideoCheckBox->isChecked());
  EXPECT_FALSE(form_->VideoSizeRadioGroup->isEnabled());
  EXPECT_FALSE(form_->FramesRadioBox->isEnabled());
}

// Yes to playing the result opens it in the player after the re-compress timer.
TEST_F(CaptureAppPlayer, YesToPlayingTheResultOpensItInThePlayer) {
  const QString clip = WriteClip("clip.avi", 20);
  OpenClip(clip);
  form_->TrimInSpinEdit->setValue(3);
  form_->TrimOutSpinEdit->setValue(12);
  const QString dest = InClips("played.avi");
  dialogs_.dialogs.Push(dest);
  dialogs_.dialogs.Push(ui::mrYes);
  form_->SaveBitBtn->click();
  ASSERT_TRUE(WaitFor([&] { return form_->ReCompressTimer->isActive(); }));
  ASSERT_TRUE(WaitFor([&] { return State() == engine::cs_Player && form_->edtSourceVideoClip->text() == dest; }));
  EXPECT_EQ(Codes(dest), Numbers(2, 11));
  EXPECT_TRUE(Messages().last().contains("successfully compressed. Do you want to play it ?"));
}

// The clip named again as the output, however spelled, is never the output: the user is asked
// again (Yes) or the save is abandoned (No), and the clip stays as it was.
TEST_F(CaptureAppPlayer, TheSourcePickedAsTheOutputIsAskedAgain) {
  const QString clip = WriteClip("clip.avi", 12);
  const QString link = InClips("link.avi");
  ASSERT_TRUE(QFile::link(clip, link));
  const QByteArray before = [&] {
    QFile f(clip);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  OpenClip(clip);
  const QString question = "You cannot use the same name for both input and output\r\n"
                           "file names. Do you want to choose another filename ?";

  // Another spelling, then a symbolic link, then No: nothing re-encoded.
  dialogs_.dialogs.Push(QDir(clips_.path()).filePath("./sub/../clip.avi"));
  dialogs_.dialogs.Push(ui::mrYes);
  dialogs_.dialogs.Push(link);
  dialogs_.dialogs.Push(ui::mrNo);
  QDir(clips_.path()).mkdir("sub");
  form_->SaveBitBtn->click();
  EXPECT_EQ(Messages().count(question), 2);
  EXPECT_FALSE(LogLines().join('|').contains("reencoding")) << LogLines().join('|').toStdString();
  EXPECT_EQ(State(), engine::cs_Player);

  // The same name, Yes, then a new one: saved.
  const QString dest = InClips("other.avi");
  dialogs_.dialogs.Push(clip);
  dialogs_.dialogs.Push(ui::mrYes);
  dialogs_.dialogs.Push(dest);
  dialogs_.dialogs.Push(ui::mrNo);
  form_->SaveBitBtn->click();
  ASSERT_TRUE(WaitFor([&] { return LogLines().contains("recompression successful..."); }));
  EXPECT_EQ(Messages().count(question), 3);
  EXPECT_EQ(Codes(dest), Numbers(0, 11));
  QFile f(clip);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
}

// Trim-out before trim-in, and a clip without frames, refuse the save before anything is written.
TEST_F(CaptureAppPlayer, SavesThatCannotWorkAreRefusedBeforeTheScript) {
  const QString clip = WriteClip("clip.avi", 40);
  const QString script = QDir(Globals().WorkingFolder).filePath("Input.avs");
  OpenClip(clip);
  form_->TrimInSpinEdit->setValue(9);
  form_->TrimOutSpinEdit->setValue(5);
  dialogs_.dialogs.Push(ui::mrOk);
  form_->SaveBitBtn->click();
  EXPECT_EQ(Messages().last(), "Compression is not possible. Your trim-in value\r\nis larger than your trim-out value.");
  EXPECT_FALSE(QFileInfo::exists(script));

  // A file with no frames: a message; trims and scroll bar keep the last clip's values.
  form_->TrimInSpinEdit->setValue(5);
  form_->TrimOutSpinEdit->setValue(9);
  // The player shows frame 9, and its frame progress keeps the bar there.
  ASSERT_TRUE(WaitFor([&] { return form_->Framecatcher->GetFrameNumber() == 9; }));
  QApplication::processEvents();
  EXPECT_EQ(form_->ScrollBar1->value(), 9);
  const int position = form_->ScrollBar1->value();
  const QString empty = InClips("empty.avi");
  {
    QFile f(empty);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, '\0'));
  }
  const int before = Messages().size();
  dialogs_.dialogs.Push(empty);
  dialogs_.dialogs.Push(ui::mrOk);
  form_->AnyClipButton->click();
  ASSERT_EQ(Messages().size(), before + 1) << Messages().join('|').toStdString();
  EXPECT_TRUE(Messages().last().contains("has no frames")) << Messages().last().toStdString();
  EXPECT_EQ(form_->TrimInSpinEdit->value(), 5);
  EXPECT_EQ(form_->TrimOutSpinEdit->value(), 9);
  EXPECT_EQ(form_->ScrollBar1->maximum(), 40);
  EXPECT_EQ(form_->ScrollBar1->value(), position);
  EXPECT_FALSE(form_->PlayerOpening);
  // The camera comes back instead of a blank panel.
  EXPECT_EQ(form_->Framecatcher->GetCurrentState(), engine::cs_Preview);

  dialogs_.dialogs.Push(ui::mrOk);
  form_->SaveBitBtn->click();  // no save dialog is asked for
  EXPECT_EQ(Messages().size(), before + 2);
  EXPECT_EQ(Messages().last(), "This video has no frames, so it cannot be saved.");
  EXPECT_FALSE(QFileInfo::exists(script));
}

// Keys of the video window step from the frame shown, also right after opening when the first
// key reopens the player without sound.
TEST_F(CaptureAppPlayer, KeysStepFromTheFrameShown) {
  const QString clip = WriteClip("clip.avi", 30);
  OpenClip(clip);
  engine::TFramecatcher* fc = form_->Framecatcher;
  // Opened, the clip comes to rest on its first frame and stays there, and the bar and read-out
  // say so.
  ASSERT_TRUE(WaitFor([&] { return fc->GetFrameNumber() == 1; })) << fc->GetFrameNumber();
  tools::WaitFor([] { return false; }, 500);
  EXPECT_EQ(fc->GetFrameNumber(), 1);
  EXPECT_EQ(form_->ScrollBar1->value(), 1);
  EXPECT_EQ(form_->Test->text(), "1");
  // The user drags the bar to 10: the player seeks there.
  form_->ScrollBar1->triggerAction(QAbstractSlider::SliderMove);
  form_->ScrollBar1->setValue(10);
  EXPECT_EQ(form_->Test->text(), "10");
  ASSERT_TRUE(WaitFor([&] { return fc->GetFrameNumber() == 10; }));
  EXPECT_EQ(form_->PlayerAudioMode, 0);

  form_->FramecatcherKeyPress('b');
  EXPECT_EQ(form_->PlayerAudioMode, 2) << "stepping is silent";
  ASSERT_TRUE(WaitFor([&] { return fc->GetFrameNumber() == 11; })) << fc->GetFrameNumber();
  form_->FramecatcherKeyPress('B');
  ASSERT_TRUE(WaitFor([&] { return fc->GetFrameNumber() == 12; })) << fc->GetFrameNumber();
  form_->FramecatcherKeyPress('c');
  ASSERT_TRUE(WaitFor([&] { return fc->GetFrameNumber() == 11; })) << fc->GetFrameNumber();
  EXPECT_EQ(fc->GetPlayerFileName(), clip);

  // Trim buttons take the bar's position; a trim change seeks unless the clip is being opened.
  form_->TriminButton->click();
  EXPECT_EQ(form_->TrimInSpinEdit->value(), form_->ScrollBar1->value());
  form_->TrimOutSpinEdit->setValue(20);
  EXPECT_EQ(form_->ScrollBar1->value(), 20);
  EXPECT_EQ(form_->TrimOutPanel->width(), 113);  // 340 x 10 / 30, to the nearest

  // Z plays backwards at double speed, V pauses.
  form_->FramecatcherKeyPress('z');
  EXPECT_EQ(fc->GetPlayerSpeedRatio(), 2.0);
  form_->FramecatcherKeyPress('v');
  EXPECT_TRUE(fc->IsPlayerPaused());
}

// A clip's size, rate and frames are its own: a 320x240 clip opened while the camera gives
// 640x480, and a clip cut after its fourth whole frame whose header still promises all 155.
TEST_F(CaptureAppPlayer, AClipReportsItsOwnSizeRateAndFrames) {
  ASSERT_EQ(form_->Framecatcher->GetVideoSizeWidth(), 640) << "the camera's size differs from the clip's";
  form_->mmoLog->clear();
  OpenClip(WriteClip("small.avi", 30));
  EXPECT_TRUE(LogLines().contains("video size: 320x240")) << LogLines().join('|').toStdString();
  EXPECT_TRUE(LogLines().contains("frame rate: 25.00 fps."));
  EXPECT_FALSE(form_->RenderVideoCheckBox->isChecked()) << "narrower than 381 pixels";
  EXPECT_FALSE(form_->VideoSizeRadioGroup->isEnabled());
  EXPECT_FALSE(form_->FramesRadioBox->isEnabled());

  const QString cut = InClips("cut.avi");
  ASSERT_TRUE(CopyCutAfterFrames(WriteClip("whole.avi", 155, 25, {640, 480}), 4, cut));
  form_->mmoLog->clear();
  OpenClip(cut);
  ASSERT_EQ(State(), engine::cs_Player) << LogLines().join('|').toStdString();
  EXPECT_TRUE(LogLines().contains("video size: 640x480")) << LogLines().join('|').toStdString();
  EXPECT_TRUE(LogLines().contains("frame rate: 25.00 fps.")) << LogLines().join('|').toStdString();
  EXPECT_EQ(form_->Framecatcher->GetPlayerFrameCount(), 4);
  EXPECT_EQ(form_->TrimOutSpinEdit->value(), 4);
  EXPECT_EQ(form_->ScrollBar1->maximum(), 4);
  EXPECT_EQ(form_->Framecatcher->GetPlayerSpeedRatio(), 0.4) << "a clip of 25 frames a second";
  // Its last frame is there to be shown.
  form_->ScrollBar1->triggerAction(QAbstractSlider::SliderMove);
  form_->ScrollBar1->setValue(4);
  EXPECT_TRUE(WaitFor([&] { return form_->Framecatcher->GetFrameNumber() == 4; }))
      << form_->Framecatcher->GetFrameNumber();
}

// The coach clicks the picture and presses B three times: each press reaches the picture and
// steps one frame, although the first one reopens the player without sound. Then the other keys
// that reopen it (C, M, N, X, Z) still reach the picture after they did.
TEST_F(CaptureAppPlayer, EveryKeyPressReachesThePictureAfterAClick) {
  OpenClip(WriteClip("clip.avi", 30));
  engine::TFramecatcher* fc = form_->Framecatcher;
  // The coach first moves to frame 5 with the bar.
  form_->ScrollBar1->triggerAction(QAbstractSlider::SliderMove);
  form_->ScrollBar1->setValue(5);
  ASSERT_TRUE(WaitFor([&] { return fc->GetFrameNumber() == 5; })) << fc->GetFrameNumber();
  engine::TDisplayForm* picture = fc->Engine().DisplayForm(engine::TFK::ds_Display);
  ASSERT_NE(picture, nullptr);
  ASSERT_TRUE(picture->isVisible());
  const QPoint middle = picture->rect().center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent click(type, QPointF(middle), QPointF(picture->mapToGlobal(middle)), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &click);
  }
  // The window system's click gives the focus by the widget's policy; a click sent by a test does not.
  ASSERT_TRUE(picture->focusPolicy() & Qt::ClickFocus) << "a click gives the picture the keys";
  picture->setFocus(Qt::MouseFocusReason);
  ASSERT_EQ(form_->focusWidget(), picture);
  // A key goes where the window's keyboard focus is, as the user's would.
  const auto press = [&](int key, const QString& text) {
    QWidget* target = form_->focusWidget() ? form_->focusWidget() : form_.get();
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &up);
  };
  for (int64_t frame : {6, 7, 8}) {
    press(Qt::Key_B, "b");
    ASSERT_TRUE(WaitFor([&] { return fc->GetFrameNumber() == frame; })) << "frame " << fc->GetFrameNumber();
    EXPECT_EQ(form_->ScrollBar1->value(), frame);
  }
  for (const auto& [key, text] : {std::pair{Qt::Key_C, "c"}, {Qt::Key_M, "m"}, {Qt::Key_V, "v"}, {Qt::Key_N, "n"},
                                  {Qt::Key_V, "v"}, {Qt::Key_X, "x"}, {Qt::Key_Z, "z"}, {Qt::Key_V, "v"}}) {
    press(key, text);
    EXPECT_EQ(form_->focusWidget(), fc->Engine().DisplayForm(engine::TFK::ds_Display)) << text;
  }
  EXPECT_TRUE(fc->IsPlayerPaused()) << "the last V reached the player";
  EXPECT_EQ(fc->GetPlayerSpeedRatio(), 2.0) << "Z before it did too";
}

}  // namespace
}  // namespace kestrom::capture
