// An export as the coach runs it: the window saves every frame with its drawings in Temp, starts
// the export program (a stand-in that records its arguments and answers with 0x2741), and tells
// the coach when another program reports a video made.
#include "WindowClipFixture.h"
#include "analysis/exportavi/ExportProtocol.h"
#include "common/startup/GlobalPaths.h"
#include "platform/core/Bmp.h"
#include "platform/core/Paths.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/TestSupport.h"
#include "tests/platform/winmsg/PeerProcess.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

namespace kestrom::window {
namespace {

using exportavi::ExportFrameFile;
using shell::Globals;
using test::PeerProcess;
using test::WaitUntil;

const QString kConfirm =
    "All the individual frames required for your own video have been produced.\r\n"
    "Do you want to continue and create the video ?";
const QString kZoomMessage =
    "It is only possible to produce videos if they are shown in their original size.\r\n"
    "Please use the Zoom functions to return the video to its normal size (i.e. Zoom=1 )";
const QString kCaptureMessage =
    "Please close the Kestrom Capture Window. It is possible to create\r\n"
    "videos using the Kestrom Capture Window and your camcorder\r\n"
    "or from current videos. But not both at the same time";

class FrameExport : public test::WindowClipFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime.isValid());
    // The test's own window directory: the stand-in's 0x2741 reaches only this test's windows.
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime.path()).constData(), 1);
    WindowClipFixture::SetUp();
    Main()->AttachWindowDirectory();
    Best()->AttachWindowDirectory();
    program = core::JoinPath(Globals().AppFolder, "\\KestromExportAVI");
    ASSERT_TRUE(QFile::copy(test::BinPath("exportavi-stand-in"), program));
    qputenv("STANDIN_OUT", records.filePath("arguments").toLocal8Bit());
  }
  void TearDown() override {
    qunsetenv("STANDIN_OUT");
    WindowClipFixture::TearDown();
    winmsg::Shutdown();
  }

  static QString Temp() { return Globals().WorkingTempFolder; }
  static QStringList TempFiles() { return QDir(Temp()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

  /** @brief Runs the frame steps as the timers would, until the export stops making frames. */
  void StepThrough(TKestromForm* w, int maxSteps = 1000) {
    for (int i = 0; i < maxSteps && w->Exporting; ++i) {
      ASSERT_TRUE(w->ExportAVITimer->isActive()) << "the export stalled at step " << i;
      w->ExportAVITimerTimer();
      ASSERT_TRUE(w->ScrollBarTimer->isActive());
      w->ScrollBarTimerTimer();
    }
  }

  /** @brief Starts an export and runs it to its questions, answered with what is pushed. */
  void ExportAll(TKestromForm* w, const std::vector<ui::ScriptedDialogs::Answer>& answers) {
    for (const auto& a : answers) dialogs.dialogs.Push(a);
    w->CreateExportAVIButton->click();
    ASSERT_TRUE(w->Exporting) << dialogs.dialogs.MessageTexts().join(" | ").toStdString();
    StepThrough(w);
  }

  QStringList RecordedArguments() {
    QFile f(records.filePath("arguments"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList fields;
    for (const QByteArray& field : f.readAll().split('\0')) fields << QString::fromUtf8(field);
    return fields.mid(1);  // after the working folder
  }

  QTemporaryDir runtime, records, videos;
  QString program;
};

TEST_F(FrameExport, HundredFramesWithADrawingBecomeNinetySevenFilesAndTheProgramsArguments) {
  TKestromForm* w = Main();
  Open(w, Clip("export.avi", 100));
  annotation::ShapeRecord box{annotation::ShapeKind::Rectangle, 20, 120, 200, 220};
  box.penColour = core::clRed;
  box.penWidth = 3;
  w->Drawings.AddShape(box);
  // What another export or the capture program left behind goes first.
  ASSERT_TRUE(core::WriteFileAtomic(core::JoinPath(Temp(), "\\Sample300.bmp"), "old"));
  ASSERT_TRUE(core::WriteFileAtomic(core::JoinPath(Temp(), "\\AVITemp1.avi"), "old"));
  const QString bitmaps = core::JoinPath(Globals().WorkingFolder, "\\Bitmaps.Dat");
  ASSERT_TRUE(core::WriteFileAtomic(bitmaps, "old"));

  const QString video = videos.filePath("my \"best\" jump.avi");
  ExportAll(w, {ui::mrYes, video});
  EXPECT_EQ(modalForms, QStringList{"ExportHintForm"});
  EXPECT_FALSE(QFileInfo::exists(bitmaps));
  QStringList expected;
  for (int n = 101; n <= 197; ++n) expected << QString("Sample%1.bmp").arg(n);
  expected.sort();
  EXPECT_EQ(TempFiles(), expected);
  for (int frame : {1, 2, 50, 97}) {
    SCOPED_TRACE(frame);
    QString error;
    const QImage saved = core::ReadBmpFile(ExportFrameFile(Temp(), frame), &error);
    ASSERT_EQ(saved.size(), QSize(320, 240)) << error.toStdString();
    EXPECT_EQ(tools::ReadFrameCode(saved), frame);
    const QRgb edge = saved.pixel(100, 120);  // on the rectangle's top edge
    EXPECT_GT(qRed(edge), 200);
    EXPECT_LT(qGreen(edge), 60);
  }

  // The program got its five fields as five arguments, whatever the file name holds.
  ASSERT_TRUE(WaitUntil([&] { return !RecordedArguments().isEmpty(); })) << "not started";
  EXPECT_EQ(RecordedArguments(), (QStringList{"00025.00", video, "97", "320", "240"}));
  EXPECT_EQ(w->ExportFileName, video);
  EXPECT_FALSE(w->Exporting);
  EXPECT_EQ(w->ScrollBar1->value(), 0);  // rewound
  // The buttons wait for the program's answer, which brings them back.
  EXPECT_FALSE(w->CreateExportAVIButton->isEnabled());
  EXPECT_TRUE(w->CancelAVIExportButton->isEnabled());
  EXPECT_TRUE(WaitUntil([&] { return w->CreateExportAVIButton->isEnabled(); })) << "no 0x2741";
  EXPECT_FALSE(w->CancelAVIExportButton->isEnabled());
  EXPECT_EQ(TempFiles().size(), 97) << "the frames stay for the program";
  EXPECT_EQ(dialogs.dialogs.MessageTexts(), QStringList{kConfirm});
}

TEST_F(FrameExport, RefusedStartsSayWhyAndChangeNothing) {
  TKestromForm* w = Main();
  const QString leftover = core::JoinPath(Temp(), "\\Sample105.bmp");
  struct Case {
    const char* what;
    QString clip;
    std::function<void()> arrange;
    QString message;  // a prefix of the refusal
  };
  std::unique_ptr<PeerProcess> capture;
  const Case cases[] = {
      {"zoom 1.2", Clip("zoom.avi", 20), [&] { w->SetZoom(12); }, kZoomMessage},
      {"capture window open", Clip("capture.avi", 20),
       [&] { capture = std::make_unique<PeerProcess>("Kestrom Capture", "TPeerForm", "Hidden", "TPeerForm"); },
       kCaptureMessage},
      {"larger than the picture area", Clip("hd.avi", 8, 25, 1, {1920, 1080}), [] {},
       "It is only possible to produce videos that are shown whole in the window."},
      {"under four frames", Clip("short.avi", 3), [] {}, "This video is too short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(w, c.clip);
    c.arrange();
    ASSERT_TRUE(core::WriteFileAtomic(leftover, "kept"));
    dialogs.dialogs.Push(ui::mrOk);
    w->CreateExportAVIButton->click();
    ASSERT_FALSE(dialogs.dialogs.MessageTexts().isEmpty());
    EXPECT_TRUE(dialogs.dialogs.MessageTexts().last().startsWith(c.message))
        << dialogs.dialogs.MessageTexts().last().toStdString();
    EXPECT_FALSE(w->Exporting);
    EXPECT_FALSE(w->ExportAVITimer->isActive());
    EXPECT_TRUE(w->CreateExportAVIButton->isEnabled());
    EXPECT_TRUE(QFileInfo::exists(leftover)) << "Temp was emptied";
    capture.reset();
    w->SetZoom(10);
  }
}

TEST_F(FrameExport, TempThatTakesNoFileOrKeepsOneStopsTheStartAtOnce) {
  TKestromForm* w = Main();
  Open(w, Clip("export.avi", 20));
  // A file where the Temp folder should be: nothing can be saved there.
  ASSERT_TRUE(QDir(Temp()).removeRecursively());
  ASSERT_TRUE(core::WriteFileAtomic(Temp(), "not a folder"));
  dialogs.dialogs.Push(ui::mrOk);
  w->CreateExportAVIButton->click();
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith(
      "The frame pictures of your own AVI file cannot be saved in " + Temp()));
  EXPECT_FALSE(w->Exporting);
  EXPECT_FALSE(w->ExportAVITimer->isActive());
}

TEST_F(FrameExport, EmptyingTempIsOnePassThatNamesWhatStays) {
  ASSERT_TRUE(core::WriteFileAtomic(core::JoinPath(Temp(), "\\Sample101.bmp"), "a"));
  ASSERT_TRUE(core::WriteFileAtomic(core::JoinPath(Temp(), "\\Sample102.bmp"), "b"));
  ASSERT_TRUE(core::WriteFileAtomic(core::JoinPath(Temp(), "\\.hidden"), "c"));
  int calls = 0;
  const QStringList left = exportavi::EmptyFolder(Temp(), [&](const QString& path) {
    ++calls;
    return !path.endsWith("Sample102.bmp") && QFile::remove(path);
  });
  EXPECT_EQ(left, QStringList{"Sample102.bmp"});
  EXPECT_EQ(calls, 3);  // each file tried once, the stuck one not again
  EXPECT_TRUE(exportavi::EmptyFolder(core::JoinPath(Temp(), "\\missing")).isEmpty());
}

TEST_F(FrameExport, DuringTheFrameStepsOtherProgramsAndTheOpenButtonAreKeptOut) {
  TKestromForm* w = Main();
  Open(w, Clip("export.avi", 20));
  w->CreateExportAVIButton->click();
  ASSERT_TRUE(w->Exporting);
  w->ExportAVITimerTimer();
  w->ScrollBarTimerTimer();

  // Any program's 0x2741 now would offer "Create" in the middle of the frames.
  w->WindowMessage(exportavi::WM_EXPORTFINISHED, 0, 0, nullptr);
  EXPECT_FALSE(w->CreateExportAVIButton->isEnabled());
  EXPECT_TRUE(w->CancelAVIExportButton->isEnabled());

  // A new video would mix its frames with these: the open button warns and asks nothing else.
  const size_t asked = dialogs.dialogs.Asked().size();
  dialogs.dialogs.Push(ui::mrOk);
  w->SpeedButton1->click();
  ASSERT_EQ(dialogs.dialogs.Asked().size(), asked + 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts().last().startsWith("Please do not use the normal video controls"));
  EXPECT_TRUE(w->Exporting);
  EXPECT_EQ(w->ExportFrameIndex, 1);
}

TEST_F(FrameExport, CancelAsksThenEmptiesTempAndRewinds) {
  TKestromForm* w = Main();
  Open(w, Clip("export.avi", 20));
  w->CreateExportAVIButton->click();
  ASSERT_TRUE(w->Exporting);
  for (int i = 0; i < 5; ++i) {
    w->ExportAVITimerTimer();
    w->ScrollBarTimerTimer();
  }
  ASSERT_EQ(TempFiles().size(), 5);

  dialogs.dialogs.Push(ui::mrNo);  // not now: the export waits, paused
  w->CancelAVIExportButton->click();
  EXPECT_TRUE(w->Exporting);
  EXPECT_FALSE(w->ExportAVITimer->isActive());
  EXPECT_EQ(TempFiles().size(), 5);

  dialogs.dialogs.Push(ui::mrYes);
  w->CancelAVIExportButton->click();
  EXPECT_EQ(dialogs.dialogs.MessageTexts().last(), "Are You Sure You Want To Cancel AVI Export ?");
  EXPECT_FALSE(w->Exporting);
  EXPECT_TRUE(TempFiles().isEmpty());
  EXPECT_EQ(w->ScrollBar1->value(), 0);
  EXPECT_TRUE(w->CreateExportAVIButton->isEnabled());
  EXPECT_FALSE(w->CancelAVIExportButton->isEnabled());
  EXPECT_TRUE(w->PlayBitBtn->isEnabled());
}

TEST_F(FrameExport, AnExportThatDoesNotReachTheProgramKeepsItsFramesAndGivesTheButtonsBack) {
  TKestromForm* w = Main();
  Open(w, Clip("export.avi", 10));
  struct Case {
    const char* what;
    std::vector<ui::ScriptedDialogs::Answer> answers;
    bool programRuns;
    bool cancelStaysEnabled;
    QString lastMessage;  // a prefix
  };
  const Case cases[] = {
      {"declined", {ui::mrNo}, true, false, kConfirm},
      {"save dialog cancelled", {ui::mrYes, std::monostate{}}, true, true, kConfirm},
      {"program cannot start", {ui::mrYes, videos.filePath("v.avi"), ui::mrOk}, false, false,
       "The export program could not be started.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QFile(program).setPermissions(c.programRuns ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                : QFile::ReadOwner | QFile::WriteOwner);
    ExportAll(w, c.answers);
    EXPECT_TRUE(dialogs.dialogs.MessageTexts().last().startsWith(c.lastMessage))
        << dialogs.dialogs.MessageTexts().last().toStdString();
    EXPECT_FALSE(w->Exporting);
    EXPECT_TRUE(w->CreateExportAVIButton->isEnabled());
    EXPECT_EQ(w->CancelAVIExportButton->isEnabled(), c.cancelStaysEnabled);
    EXPECT_EQ(TempFiles().size(), 7) << "the frames stay";
    EXPECT_TRUE(RecordedArguments().isEmpty());
    EXPECT_EQ(w->ScrollBar1->value(), 0);
  }
}

TEST_F(FrameExport, VideoCreatedNoticeShowsItsTextCutTo100Characters) {
  QString text;
  for (int i = 0; i < 150; ++i) text += QChar('a' + i % 26);
  PeerProcess peer("Kestrom Capture", "TPeerForm", "Hidden", "TPeerForm", {"--copydata-to", "TKestromForm", "--copydata", text});
  ASSERT_TRUE(peer.Ready());
  dialogs.dialogs.Push(ui::mrOk);
  ASSERT_TRUE(WaitUntil([&] { return !dialogs.dialogs.MessageTexts().isEmpty(); })) << "no notice";
  EXPECT_EQ(peer.WaitForLine("sent "), "sent 1");
  const auto* box = std::get_if<ui::MessageRequest>(&dialogs.dialogs.Asked().back());
  ASSERT_NE(box, nullptr);
  // A name this long stands on a line of its own: the box breaks no line of the sentence.
  EXPECT_EQ(box->text, "The overlay video\r\n" + text.left(100) + "\r\nhas been created\r\n" +
                           "and can be viewed in either the Main or Best Window");
  EXPECT_EQ(box->position, QPoint(430, 160));
}

TEST(FrameExportNotice, ASentenceTooLongForTheBoxBreaksOnlyAroundTheVideosName) {
  const QString tail = "\r\nand can be viewed in either the Main or Best Window";
  EXPECT_EQ(VideoCreatedMessage("C:/v.avi"), "The overlay video C:/v.avi has been created" + tail);
  const QString name = "/home/coach/Videos/Club championships/Under 14 girls/long jump heat 2.avi";
  EXPECT_EQ(VideoCreatedMessage(name), "The overlay video\r\n" + name + "\r\nhas been created" + tail);
  // Whatever the name, the words are those of the sentence, in its order.
  EXPECT_EQ(VideoCreatedMessage(name).replace("\r\n", " "),
            "The overlay video " + name + " has been created and can be viewed in either the Main or Best Window");
}

// Message boxes that stay up while the program goes on, as real ones do: each box lets the
// event loop run, so a notice that arrives meanwhile opens a second box over the first.
class OpenBoxes final : public ui::Dialogs {
 public:
  int MessageDlg(const ui::MessageRequest& request, QWidget*) override {
    positions << request.position;
    texts << request.text;
    // The first box stays up until the second has come (the timer is a safety net); meanwhile
    // the next notice arrives.
    if (++depth_ == 1 && whileUp) {
      whileUp();
      QEventLoop up;
      QTimer poll, safety;
      QObject::connect(&poll, &QTimer::timeout, &up, [&] {
        if (texts.size() >= 2) up.quit();
      });
      QObject::connect(&safety, &QTimer::timeout, &up, &QEventLoop::quit);
      poll.start(1);
      safety.start(10000);
      up.exec();
    }
    --depth_;
    return ui::mrOk;
  }
  std::optional<QString> OpenFile(const ui::FileRequest&, QWidget*) override { return std::nullopt; }
  std::optional<QString> SaveFile(const ui::FileRequest&, QWidget*) override { return std::nullopt; }
  std::optional<QString> ChooseFolder(const QString&, const QString&, QWidget*) override { return std::nullopt; }
  std::optional<ui::FontChoice> ChooseFont(const ui::FontChoice&, QWidget*) override { return std::nullopt; }
  std::optional<core::TColor> ChooseColor(core::TColor, QWidget*) override { return std::nullopt; }
  std::optional<QString> InputQuery(const ui::InputRequest&, QWidget*) override { return std::nullopt; }
  std::optional<ui::PrintTarget> ChoosePrinter(QWidget*) override { return std::nullopt; }
  QList<QPoint> positions;
  QStringList texts;
  std::function<void()> whileUp;

 private:
  int depth_ = 0;
};

TEST_F(FrameExport, TwoNoticesUpTogetherAreNotStackedAtOnePlace) {
  OpenBoxes boxes;
  ui::SetAppDialogs(&boxes);
  const QByteArray first("C:/a.avi\0", 9), second("C:/b.avi\0", 9);
  const winmsg::CopyData a{0, uint32_t(first.size()), first.constData()};
  const winmsg::CopyData b{0, uint32_t(second.size()), second.constData()};
  boxes.whileUp = [&] { Main()->WindowMessage(winmsg::WM_COPYDATA, 0, 0, &b); };
  Main()->WindowMessage(winmsg::WM_COPYDATA, 0, 0, &a);
  ASSERT_TRUE(WaitUntil([&] { return boxes.texts.size() == 2; }));
  boxes.whileUp = nullptr;
  EXPECT_EQ(boxes.positions[0], QPoint(430, 160));
  EXPECT_NE(boxes.positions[1], boxes.positions[0]) << "the second box lies over the first";
  EXPECT_TRUE(boxes.texts[1].contains("C:/b.avi"));
  // Both closed: the next notice takes the first place again.
  Main()->WindowMessage(winmsg::WM_COPYDATA, 0, 0, &a);
  ASSERT_TRUE(WaitUntil([&] { return boxes.texts.size() == 3; }));
  EXPECT_EQ(boxes.positions[2], QPoint(430, 160));
  ui::SetAppDialogs(&dialogs.dialogs);
}

TEST_F(FrameExport, VideoCreatedNoticeAnswersBeforeItsBoxShows) {
  // The sender waits for the handler: a coach reading the box must not keep it waiting.
  const QByteArray record("C:/v.avi\0", 9);
  const winmsg::CopyData data{0, uint32_t(record.size()), record.constData()};
  Main()->WindowMessage(winmsg::WM_COPYDATA, 0, 0, &data);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts().isEmpty());
  dialogs.dialogs.Push(ui::mrOk);
  ASSERT_TRUE(WaitUntil([&] { return !dialogs.dialogs.MessageTexts().isEmpty(); })) << "no box";
  EXPECT_TRUE(dialogs.dialogs.MessageTexts().first().startsWith("The overlay video C:/v.avi has been created"));
}

TEST(FrameExportNotice, TextStopsAtZeroByteCountOrHundredCharacters) {
  const struct {
    const char* what;
    QByteArray bytes;
    uint32_t count;
    QString text;
  } cases[] = {
      {"terminated", QByteArray("C:/v.avi\0junk", 13), 13, "C:/v.avi"},
      {"unterminated", QByteArray("C:/v.avi"), 8, "C:/v.avi"},
      {"count shorter than the text", QByteArray("C:/v.avi"), 4, "C:/v"},
      {"empty", QByteArray("\0", 1), 1, ""},
      {"no bytes", QByteArray(), 0, ""},
      {"UTF-8", QString("Sprung ü.avi").toUtf8(), uint32_t(QString("Sprung ü.avi").toUtf8().size()), "Sprung ü.avi"},
      {"Windows-1252", QByteArray("Sprung \xfc.avi"), 12, "Sprung ü.avi"},
      {"long", QByteArray(150, 'x'), 150, QString(100, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const winmsg::CopyData data{0, c.count, c.bytes.isEmpty() ? nullptr : c.bytes.constData()};
    EXPECT_EQ(exportavi::VideoCreatedText(data), c.text);
  }
}

}  // namespace
}  // namespace kestrom::window
