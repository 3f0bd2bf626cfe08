// Closing the windows and the program, the close-file dialog, other programs of the system, help
// and the tab control, driven as the coach drives them.
#include "StartUpFixture.h"
#include "analysis/drawing/DrawingControls.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/Palettes.h"
#include "platform/media/MediaPlayer.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/TestSupport.h"
#include "tests/platform/winmsg/PeerProcess.h"
#include "tools/ClipWriter.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QLabel>
#include <QTemporaryDir>
#include <QToolButton>
#include <map>

namespace kestrom::window {
namespace {

using shell::Globals;
using test::PeerProcess;
using test::WaitUntil;

const QString kBestQuestion = "Do You Want To Close The Best Window ?";
const QString kSystemQuestion = "Are You Sure You Want To Close The Kestrom System ?";

/** @brief What a window holds unsaved. */
struct Work {
  bool shapes = false, markers = false, angles = false, events = false, memo = false, trace = false;
};

class Closing : public test::StartUpFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime.isValid());
    // The test's own window directory: no other program of this user is told to quit.
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime.path()).constData(), 1);
    StartUpFixture::SetUp();
    Fresh();
  }
  void TearDown() override {
    StartUpFixture::TearDown();
    winmsg::Shutdown();
  }

  // The forms as at start-up, with the close-file dialogs answered from `clicks`.
  void Fresh() {
    Main()->StartTimer->stop();
    onModal = [this](QDialog& form) {
      Sync();
      asked << "[" + form.objectName() + "]";
      for (const QString& click : clicks[form.objectName()]) {
        if (click == "frame") {
          form.close();
          continue;
        }
        auto* button = form.findChild<QPushButton*>(click);
        ASSERT_NE(button, nullptr) << click.toStdString();
        EXPECT_TRUE(button->isEnabled()) << click.toStdString() << " in " << form.objectName().toStdString();
        button->click();
      }
      Sync();
    };
  }

  // Takes the message boxes asked since the last look into the ordered record.
  void Sync() {
    const QStringList texts = dialogs.dialogs.MessageTexts();
    for (qsizetype i = seen; i < texts.size(); ++i) asked << texts[i];
    seen = texts.size();
  }

  // Gives a window a video name in `folder` and the unsaved work asked for.
  static void GiveWork(TKestromForm* w, const QString& base, const Work& work) {
    w->VideoFileName = base + ".avi";
    w->VideoName = base;
    w->MemoPad->SetVideo(base);
    annotation::DrawingStore& s = w->Drawings;
    if (work.shapes) s.AddShape({annotation::ShapeKind::Rectangle, 10, 20, 110, 120});
    if (work.markers) {
      s.SetMarker(1, 400);
      s.Modified().markers = true;
    }
    if (work.angles) s.AddAngle(2, 100, 200, 150, 150, 200, 200, core::clRed);
    if (work.events) s.AddEventLine({});
    if (work.memo) {
      w->MemoPad->SetMemoLines({"Knee drive too early"});
      w->MemoPad->MemoModified = true;
    }
    if (work.trace) s.Modified().trace = true;
  }

  QTemporaryDir runtime;
  QStringList asked;  // message texts and "[dialog]" in the order they were put to the coach
  qsizetype seen = 0;
  std::map<QString, QStringList> clicks;
};

TEST_F(Closing, AsksInOrderAndKeepsOnDiskWhatTheAnswersSaid) {
  const QString cf1 = "[CloseFilesForm1]", cf2 = "[CloseFilesForm2]";
  const struct Case {
    const char* what;
    bool closeBest;  // else MainWindow closes (the program)
    bool bestVisible;
    Work main, best;
    QStringList mainClicks, bestClicks;
    std::vector<ui::ModalResult> answers;
    QStringList asked;
    bool closed;
    bool bestVisibleAfter;
    bool workLeft;
    QStringList files;  // the companion files that exist afterwards
  } cases[] = {
      {"nothing unsaved, Best hidden", false, false, {}, {}, {}, {}, {ui::mrYes}, {kSystemQuestion}, true, false,
       false, {}},
      {"No for Best and Yes for the system still ends the program", false, true, {}, {}, {}, {},
       {ui::mrNo, ui::mrYes}, {kBestQuestion, kSystemQuestion}, true, true, false, {}},
      {"No for the system keeps the program; saved work stays saved", false, false,
       {.markers = true, .trace = true}, {}, {"TraceYes", "MarkersYes"}, {}, {ui::mrNo},
       {cf1, kSystemQuestion}, false, false, false, {"main.mrk"}},
      {"work in both windows: Best's first, then Main's", false, true, {.markers = true, .angles = true},
       {.shapes = true}, {"MarkersYes", "AnglesNo"}, {"ShapesYes"}, {ui::mrYes, ui::mrYes},
       {cf2, kBestQuestion, cf1, kSystemQuestion}, true, false, false, {"main.mrk", "best.shp"}},
      {"a hidden Best window's work is asked about too", false, false, {}, {.angles = true, .memo = true}, {},
       {"AnglesYes", "MemoYes"}, {ui::mrYes}, {cf2, kSystemQuestion}, true, false, false,
       {"best.ang", "best.txt"}},
      {"Main's dialog closed from its frame calls the close off", false, false, {.shapes = true}, {}, {"frame"},
       {}, {}, {cf1}, false, false, true, {}},
      {"Best's dialog closed from its frame calls the program's close off", false, true, {}, {.markers = true}, {},
       {"frame"}, {}, {cf2}, false, true, true, {}},
      {"Best closes: its work first, then its question", true, true, {}, {.events = true, .memo = true}, {},
       {"MemoNo", "EventsYes"}, {ui::mrYes}, {cf2, kBestQuestion}, true, false, false, {"best.ent"}},
      {"Best stays on No", true, true, {}, {.markers = true}, {}, {"MarkersNo"}, {ui::mrNo}, {cf2, kBestQuestion},
       false, true, false, {}},
      {"Best's dialog closed from its frame keeps Best and its work", true, true, {}, {.shapes = true}, {},
       {"frame"}, {}, {cf2}, false, true, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DestroyForms();
    CreateForms();
    Fresh();
    asked.clear();
    seen = dialogs.dialogs.MessageTexts().size();
    QTemporaryDir dir;
    const QString main = dir.filePath("main"), best = dir.filePath("best");
    GiveWork(Main(), main, c.main);
    GiveWork(Best(), best, c.best);
    clicks = {{"CloseFilesForm1", c.mainClicks}, {"CloseFilesForm2", c.bestClicks}};
    Main()->show();
    if (c.bestVisible) Best()->show();
    for (ui::ModalResult answer : c.answers) dialogs.dialogs.Push(answer);

    const bool closed = (c.closeBest ? Best() : Main())->close();
    Sync();

    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(closed, c.closed);
    EXPECT_EQ(Best()->isVisible(), c.bestVisibleAfter);
    EXPECT_EQ(Main()->HasUnsavedWork() || Best()->HasUnsavedWork(), c.workLeft);
    EXPECT_EQ(dialogs.dialogs.Pending(), 0u);
    QStringList files;
    for (const QString& base : {QString("main"), QString("best")})
      for (const char* suffix : {".shp", ".frh", ".str", ".mrk", ".ang", ".ent", ".txt"})
        if (QFileInfo::exists(dir.filePath(base + suffix))) files << base + suffix;
    EXPECT_EQ(files, c.files);
    if (c.closeBest && c.closed) {
      EXPECT_EQ(Best()->MediaPlayer1->FileName(), "Null");
      EXPECT_FALSE(Best()->VideoOpen);
      EXPECT_EQ(Best()->windowTitle(), "Best");
    }
  }
}

TEST_F(Closing, DialogShowsOnlyTheChangedKindsAndKeepsARowWhoseSaveFailed) {
  // The video's folder is gone (a card taken out, say): nothing can be written beside it.
  QTemporaryDir dir;
  GiveWork(Best(), dir.filePath("gone/best"), {.shapes = true, .markers = true});
  TCloseFilesForm* form = Forms().CloseFilesForm2;
  clicks.clear();
  onModal = [&](QDialog&) {
    EXPECT_EQ(form->pos(), QPoint(200, 205));
    EXPECT_EQ(form->Edit1->text(), dir.filePath("gone/best"));
    // The question and the whole path fit, whatever the font: the form widens to them.
    const QLabel* question = form->findChild<QLabel*>("Label2");
    ASSERT_NE(question, nullptr);
    EXPECT_LE(question->x() + question->sizeHint().width(), form->width());
    EXPECT_LE(form->Edit1->x() + QFontMetrics(form->Edit1->font()).horizontalAdvance(form->Edit1->text()),
              form->Edit1->x() + form->Edit1->width());
    EXPECT_LE(form->Edit1->geometry().right(), form->width());
    for (QPushButton* b : {form->TraceYes, form->MemoNo, form->AnglesYes, form->EventsNo})
      EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(form->ShapesYes->isEnabled() && form->MarkersNo->isEnabled());

    dialogs.dialogs.Push(ui::mrOk);
    form->MarkersYes->click();  // fails: the row stays, the coach is told why
    EXPECT_TRUE(form->MarkersYes->isEnabled());
    EXPECT_TRUE(Best()->Drawings.Modified().markers);
    ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
    EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].contains("could not be saved")) << dialogs.dialogs.MessageTexts()[0].toStdString();
    EXPECT_TRUE(form->isVisible());

    form->MarkersNo->click();  // let go: the dialog stays for the shapes
    EXPECT_FALSE(form->MarkersYes->isEnabled());
    EXPECT_TRUE(form->isVisible());
    form->ShapesNo->click();  // nothing left: it closes itself
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), ui::mrOk);
  };
  Forms().ActiveWindowNumber = 2;
  EXPECT_TRUE(Best()->AskToSaveWork());
  EXPECT_FALSE(Best()->HasUnsavedWork());
  EXPECT_FALSE(Main()->HasUnsavedWork());
}

TEST_F(Closing, ASaveOverAPartlyLoadedFileAsksFirst) {
  // The angles file was damaged: the angles before the damage loaded, the rest did not.
  QTemporaryDir dir;
  const QString angles = dir.filePath("best.ang");
  const QByteArray damaged = "1 2 3 4 5 6 255 2\r\n1 2 x\r\n";
  {
    QFile f(angles);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(damaged);
  }
  GiveWork(Best(), dir.filePath("best"), {});
  ASSERT_TRUE(Best()->Drawings.LoadAngles(angles).report);
  Best()->Drawings.Modified().angles = true;
  TCloseFilesForm* form = Forms().CloseFilesForm2;
  onModal = [&](QDialog&) {
    dialogs.dialogs.Push(ui::mrNo);
    form->AnglesYes->click();  // No to the question: the file stays whole, the row stays
    ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
    EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].contains(angles));
    EXPECT_TRUE(form->AnglesYes->isEnabled());
    QFile f(angles);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), damaged);
    dialogs.dialogs.Push(ui::mrYes);
    form->AnglesYes->click();  // Yes: saved
    EXPECT_FALSE(form->isVisible());
  };
  Forms().ActiveWindowNumber = 2;
  EXPECT_TRUE(Best()->AskToSaveWork());
  EXPECT_FALSE(Best()->Drawings.Modified().angles);
}

TEST_F(Closing, ClosingAWindowTellsTheListedProgramsToQuit) {
  PeerProcess capture("Kestrom Ruvodo Capture", "TKestromCaptureForm", "Kestrom Export AVI", "TExportForm");
  PeerProcess other("kestrom capture", "TOtherForm", "Kestrom Capture ", "TOtherForm");  // case and blank differ
  ASSERT_TRUE(capture.Ready() && other.Ready());
  EXPECT_FALSE(TKestromForm::KillApp("Kestrom Playlist and Video Editing"));

  Best()->show();
  dialogs.dialogs.Push(ui::mrYes);
  EXPECT_TRUE(Best()->close());
  EXPECT_TRUE(WaitUntil([&] { return capture.Process().state() == QProcess::NotRunning; }))
      << "the capture program was not told to quit";
  EXPECT_EQ(capture.Process().exitCode(), 0);
  EXPECT_EQ(other.Process().state(), QProcess::Running);
}

TEST_F(Closing, CameraAndPlaylistButtonsStartTheirProgramOnlyOnce) {
  QTemporaryDir records;
  const struct {
    const char* what;
    QToolButton* button;
    QString program;
    QString folder;
    QString runningTitle;
    QString message;
  } cases[] = {
      {"camera", Main()->CameraButton, Globals().CaptureProgram, Globals().CaptureFolder, "Kestrom Capture",
       "The Camera Window is already active and open!"},
      {"playlist", Main()->PlayListSpeedButton, Globals().PlayListProgram, Globals().PlayListFolder,
       "Kestrom Playlist and Video Editing", "The Playlist Window is already active"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(QDir().mkpath(c.folder));
    ASSERT_TRUE(QFile::copy(test::BinPath("shell-recorder"), c.program));
    const QString refused = records.filePath(QString(c.what) + "-refused");
    const QString started = records.filePath(QString(c.what) + "-started");
    Main()->setWindowTitle("/videos/jump");
    {
      PeerProcess running(c.runningTitle, "TPeerForm", "Hidden", "TPeerForm");
      ASSERT_TRUE(running.Ready());
      qputenv("RECORDER_OUT", refused.toLocal8Bit());
      dialogs.dialogs.Push(ui::mrOk);
      c.button->click();
      ASSERT_FALSE(dialogs.dialogs.MessageTexts().isEmpty());
      EXPECT_EQ(dialogs.dialogs.MessageTexts().last(), c.message);
    }
    qputenv("RECORDER_OUT", started.toLocal8Bit());
    c.button->click();
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(started); })) << "not started";
    QFile record(started);
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = record.readAll().split('\0');
    EXPECT_EQ(fields, QList<QByteArray>{QFile::encodeName(QDir(c.folder).canonicalPath())}) << "no arguments";
    EXPECT_FALSE(QFileInfo::exists(refused)) << "started while its window was open";
    // The capture program finds the analysis program by its caption.
    EXPECT_EQ(Main()->windowTitle() == shell::AnalysisWindowTitle, c.button == Main()->CameraButton);
  }
}

TEST_F(Closing, OpeningOverUnsavedWorkAsksAndCanBeCalledOff) {
  QTemporaryDir dir;
  QString paths[2];
  for (int i = 0; i < 2; ++i) {
    tools::ClipSpec clip;
    clip.path = paths[i] = dir.filePath(QString("run%1.avi").arg(i + 1));
    clip.size = {160, 120};
    clip.frames = 10;
    QString error;
    ASSERT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
  }
  TKestromForm* w = Main();
  w->resize(800, 600);
  w->show();
  ASSERT_TRUE(w->OpenVideoFile(paths[0]));
  w->Drawings.AddShape({annotation::ShapeKind::Line, 1, 2, 30, 40});
  w->Drawings.SetMarker(3, 120);
  w->Drawings.Modified().markers = true;
  const annotation::DrawingStore drawn = w->Drawings;

  // The open button asks before its file dialog; closing the question's window calls it off.
  clicks = {{"CloseFilesForm1", {"frame"}}};
  w->SpeedButton1->click();
  EXPECT_EQ(asked, QStringList{"[CloseFilesForm1]"});
  EXPECT_TRUE(dialogs.dialogs.Asked().empty()) << "no file dialog after the call-off";
  clicks = {{"CloseFilesForm1", {"frame"}}};
  EXPECT_FALSE(w->OpenVideoFile(paths[1]));
  EXPECT_EQ(w->MediaPlayer1->FileName(), paths[0]);
  EXPECT_EQ(w->VideoFileName, paths[0]);
  EXPECT_EQ(w->Drawings.Shapes(), drawn.Shapes());
  EXPECT_EQ(w->Drawings.Markers(), drawn.Markers());
  EXPECT_TRUE(w->Drawings.Modified().shapes && w->Drawings.Modified().markers);

  // Answered: the shapes are saved beside the old video, the markers let go, the new one opens.
  clicks = {{"CloseFilesForm1", {"ShapesYes", "MarkersNo"}}};
  EXPECT_TRUE(w->OpenVideoFile(paths[1]));
  EXPECT_EQ(w->VideoFileName, paths[1]);
  EXPECT_TRUE(QFileInfo::exists(dir.filePath("run1.shp")));
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("run1.mrk")));
  EXPECT_TRUE(w->Drawings.Shapes().empty());
  EXPECT_FALSE(w->HasUnsavedWork());
  EXPECT_EQ(w->MemoPad->MemoFile, dir.filePath("run2.txt"));
}

TEST_F(Closing, HelpItemsOpenTheirPageOrSayHelpIsNotInstalled) {
  QTemporaryDir work;
  const QString opener = work.filePath("opener"), record = work.filePath("record");
  ASSERT_TRUE(QFile::copy(test::BinPath("shell-recorder"), opener));
  qputenv("KESTROM_OPENER", opener.toLocal8Bit());
  qputenv("RECORDER_OUT", record.toLocal8Bit());
  TKestromForm* w = Main();
  auto rightClickOnTab = [w](QWidget* page) {
    QTabBar* bar = w->FileControls->tabBar();
    const QPoint at = bar->tabRect(w->FileControls->indexOf(page)).center();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), bar->mapToGlobal(QPointF(at)), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &press);
  };
  const struct {
    const char* what;
    std::function<void()> ask;
    QString page;
  } cases[] = {
      {"help menu item", [w] { w->Help1->trigger(); }, "ZuzAzu9.html"},
      {"right click on the Help tab", [&] { rightClickOnTab(w->HelpSheet); }, "Kestrom.html"},
  };
  const QString helpFolder = QDir(Globals().AppFolder).filePath("resources/help");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    dialogs.dialogs.Push(ui::mrOk);
    c.ask();
    ASSERT_FALSE(dialogs.dialogs.MessageTexts().isEmpty());
    EXPECT_TRUE(dialogs.dialogs.MessageTexts().last().startsWith("Help is not installed"));
    EXPECT_FALSE(QFileInfo::exists(record));

    ASSERT_TRUE(QDir().mkpath(helpFolder));
    QFile page(QDir(helpFolder).filePath(c.page));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<html><body>Help</body></html>");
    page.close();
    c.ask();
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(record); })) << "the page was not opened";
    QFile opened(record);
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    const QList<QByteArray> fields = opened.readAll().split('\0');
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(QFileInfo(QString::fromLocal8Bit(fields[1])).fileName(), c.page);
    QFile::remove(record);
  }
}

TEST_F(Closing, TabsGiveHintsKeepGuardsAndOpenPalettesOnRightClick) {
  TKestromForm* w = Main();
  w->show();
  QTabBar* bar = w->FileControls->tabBar();
  auto press = [&](QWidget* page, Qt::MouseButton button) {
    const QPoint at = bar->tabRect(w->FileControls->indexOf(page)).center();
    QMouseEvent e(QEvent::MouseButtonPress, QPointF(at), bar->mapToGlobal(QPointF(at)), button, button,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &e);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(at), bar->mapToGlobal(QPointF(at)), button, Qt::NoButton,
                   Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &up);
  };
  EXPECT_EQ(w->FileControls->tabText(0), "Main");
  EXPECT_EQ(Best()->FileControls->tabText(0), "Best");

  press(w->Shapes, Qt::LeftButton);
  EXPECT_EQ(w->FileControls->currentWidget(), w->Shapes);
  EXPECT_EQ(w->FileControls->toolTip(),
            "Drawing, Text and Grid Functions : RIGHT CLICK for Alternative Shape Functions");

  // A right click opens the tab's palette beside the window and leaves the tab as it was.
  press(w->Markers, Qt::RightButton);
  EXPECT_TRUE(w->MarkerForm->isVisible());
  EXPECT_EQ(w->MarkerForm->pos(), w->Bounds().topLeft() + QPoint(200, 100));
  EXPECT_EQ(w->FileControls->currentWidget(), w->Shapes);

  // In digitisation mode no other tab may be chosen.
  w->DigitisationMode = true;
  dialogs.dialogs.Push(ui::mrOk);
  press(w->System, Qt::LeftButton);
  EXPECT_EQ(w->FileControls->currentWidget(), w->Shapes);
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith("Kestrom is now in Digitisation Mode."));
  const auto& box = std::get<ui::MessageRequest>(dialogs.dialogs.Asked()[0]);
  EXPECT_EQ(box.position, w->Bounds().topLeft() + QPoint(68, 86));

  // A tab the program shows itself runs no handler.
  w->DigitisationMode = false;
  ShowTab(w->FileControls, w->Angles);
  EXPECT_EQ(w->FileControls->toolTip(),
            "Drawing, Text and Grid Functions : RIGHT CLICK for Alternative Shape Functions");
}

}  // namespace
}  // namespace kestrom::window
