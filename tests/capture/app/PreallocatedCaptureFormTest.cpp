// The preallocation form on a real working folder and a real component: the panel each check
// offers, the run that makes the eleven files with its bars, Cancel during the run, a file that
// cannot be made, and the program's end from inside the modal form.

#include "MediatorFixture.h"
#include "capture/app/PreallocatedCaptureForm.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace kestrom::capture::test {
namespace {

constexpr int64_t MB = 1 << 20;
constexpr uint64_t GB = 1ull << 30;

class CaptureAppPreallocation : public MediatorFixture {
 protected:
  void SetUp() override {
    MediatorFixture::SetUp();
    connect = QObject::connect(&mediator, &CaptureMediator::PreallocationClosed,
                               [this](bool programEnding) { closedWith << programEnding; });
  }
  void TearDown() override {
    QObject::disconnect(connect);
    MediatorFixture::TearDown();
  }

  // The form as the program makes it, with free space as the test says.
  std::unique_ptr<TPreallocatedCaptureForm> MakeForm(std::optional<uint64_t> freeBytes) {
    auto form = std::make_unique<TPreallocatedCaptureForm>(mediator);
    form->FreeSpaceProbe = [freeBytes](const QString& folder) {
      EXPECT_EQ(folder, Globals().WorkingFolder);
      return freeBytes;
    };
    QObject::connect(form.get(), &QDialog::finished, [this] { terminatedWhenClosed << ui::Terminated(); });
    return form;
  }

  // Asks for the check as the capture form does and lets the form's show timer run it; the
  // handler acts on the modal form.
  void RunCheck(TPreallocatedCaptureForm& form, std::function<void(TPreallocatedCaptureForm&)> handler) {
    bool shown = false;
    ui::SetModalHandler([&](QDialog& dialog) {
      shown = true;
      handler(form);
      EXPECT_EQ(&dialog, &form);
      return dialog.result();
    });
    emit mediator.PreallocationCheckRequested();
    auto* showTimer = form.findChild<QTimer*>("ShowTimer");
    ASSERT_TRUE(showTimer && showTimer->isActive());
    EXPECT_EQ(showTimer->interval(), 100);
    EXPECT_TRUE(showTimer->isSingleShot());
    EXPECT_TRUE(WaitFor([&] { return shown; }));
  }

  // Steps the run as its timer would, noting the bars after each step, until the timer is left unarmed.
  static QList<int> StepRun(TPreallocatedCaptureForm& form) {
    auto* timer = form.findChild<QTimer*>("PreAllocationTimer");
    QList<int> bars;
    for (int i = 0; i < 20 && timer->isActive(); ++i) {
      EXPECT_EQ(timer->interval(), 500);
      form.PreAllocationTimerTimer();
      const int value = form.findChild<QProgressBar*>("ProgressBar3")->value();
      for (const char* name : {"ProgressBar1", "ProgressBar2", "ProgressBar4"})
        EXPECT_EQ(form.findChild<QProgressBar*>(name)->value(), value) << name;
      bars << value;
    }
    return bars;
  }

  static void Click(QWidget& form, const char* button) {
    auto* b = form.findChild<QPushButton*>(button);
    ASSERT_TRUE(b) << button;
    b->click();
  }

  static QStringList VisiblePanels(const QWidget& form) {
    QStringList panels;
    for (const char* name : {"Panel1", "Panel3", "Panel4", "Panel5", "Panel6"})
      if (form.findChild<QFrame*>(name)->isVisibleTo(&form)) panels << name;
    return panels;
  }

  QList<ui::MessageRequest> Messages() const {
    QList<ui::MessageRequest> messages;
    for (const ui::AskedItem& item : dialogs.dialogs.Asked())
      if (const auto* message = std::get_if<ui::MessageRequest>(&item)) messages << *message;
    return messages;
  }

  static bool MakeSparseFile(const QString& path, int64_t size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
  }

  QMetaObject::Connection connect;
  QList<bool> closedWith;
  QList<bool> terminatedWhenClosed;
};

const QList<int> kBars = {0, 17, 25, 33, 42, 50, 58, 67, 75, 83, 92, 100};

TEST_F(CaptureAppPreallocation, TheCheckOffersThePanelThatFitsAndItsButtonsCloseIt) {
  struct Case {
    const char* name;
    int64_t sampleSize;  // -1: no file
    std::optional<uint64_t> freeBytes;
    const char* panel;
    int clientHeight;
    const char* button;
    bool programEnds;
  };
  const Case cases[] = {
      {"a sample of 0.21 GB: set up already", 225485784, 0, "Panel3", 177, "BitBtn4", false},
      {"nothing there, room for the set", -1, 2 * GB, "Panel4", 177, "BitBtn6", false},
      // Free space once counted against a fixed 0.315 GB: 0.5 GB cannot hold the 1.27 GB set.
      {"nothing there, 0.5 GB free", -1, GB / 2, "Panel5", 150, "BitBtn8", true},
      {"nothing there, free space unknown", -1, std::nullopt, "Panel5", 150, "BitBtn8", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui::ResetTerminated();
    closedWith.clear();
    terminatedWhenClosed.clear();
    QFile::remove(CaptureFilePath(0));
    if (c.sampleSize >= 0) {
      ASSERT_TRUE(MakeSparseFile(CaptureFilePath(0), c.sampleSize));
    }
    auto form = MakeForm(c.freeBytes);
    mediator.SetCaptureFormPos({40, 60});
    RunCheck(*form, [&](TPreallocatedCaptureForm& f) {
      EXPECT_EQ(VisiblePanels(f), QStringList{c.panel});
      EXPECT_EQ(f.height(), c.clientHeight);
      EXPECT_EQ(f.pos(), QPoint(340, 160));
      EXPECT_EQ(f.windowTitle(), "Pre-Allocation File Capture Status");
      for (const char* label : {"DriveLabel1", "DriveLabel2", "DriveLabel3", "DriveLabel4"})
        EXPECT_EQ(f.findChild<QLabel*>(label)->text(), "C") << label;
      Click(f, c.button);
    });
    EXPECT_EQ(closedWith, QList<bool>{c.programEnds});
    EXPECT_EQ(ui::Terminated(), c.programEnds);
    // The form is closed before the program is told to end, or the end would not take effect.
    EXPECT_EQ(terminatedWhenClosed, QList<bool>{false});
    EXPECT_EQ(form->Cancelled(), !c.programEnds);
    EXPECT_FALSE(mediator.PreallocationRunning);
    EXPECT_TRUE(Messages().isEmpty());
    for (int i = 1; i < kCaptureFileCount; ++i) EXPECT_FALSE(QFileInfo::exists(CaptureFilePath(i))) << i;
    EXPECT_TRUE(completions.isEmpty());
  }
}

TEST_F(CaptureAppPreallocation, TheSpaceFiguresOfTheSetAreShownWhenItFits) {
  ASSERT_TRUE(MakeSparseFile(CaptureFilePath(3), 50 * MB));
  auto form = MakeForm(3 * GB);
  RunCheck(*form, [&](TPreallocatedCaptureForm& f) {
    EXPECT_EQ(VisiblePanels(f), QStringList{"Panel4"});
    EXPECT_EQ(f.findChild<QLabel*>("Label1")->text(), "0.05");
    EXPECT_EQ(f.findChild<QLabel*>("Label4")->text(), "3.00");
    Click(f, "BitBtn6");
  });
  EXPECT_DOUBLE_EQ(form->ReservedGB, 50.0 / 1024);
  EXPECT_DOUBLE_EQ(form->FreeGB, 3.0);
  EXPECT_DOUBLE_EQ(form->RecommendedGB, 1.585);
}

TEST_F(CaptureAppPreallocation, YesMakesTheElevenFilesReservedOnDiskThenAdvisesAndEndsTheProgram) {
  auto form = MakeForm(4 * GB);
  dialogs.dialogs.Push(ui::mrYes);  // the question
  dialogs.dialogs.Push(ui::mrOk);   // the advice
  QList<int> bars;
  QList<bool> running;
  RunCheck(*form, [&](TPreallocatedCaptureForm& f) {
    Click(f, "BitBtn5");
    EXPECT_FALSE(f.findChild<QPushButton*>("BitBtn5")->isEnabled());
    EXPECT_FALSE(f.findChild<QPushButton*>("BitBtn3")->isEnabled());
    EXPECT_EQ(f.FileIndex(), -1);
    running << mediator.PreallocationRunning;
    bars = StepRun(f);
    running << mediator.PreallocationRunning;
  });
  EXPECT_EQ(bars, kBars);
  EXPECT_EQ(running, (QList<bool>{true, false}));
  for (int i = 0; i < kCaptureFileCount; ++i) {
    const auto file = SizeAndReserved(CaptureFilePath(i));
    ASSERT_TRUE(file) << i;
    const int64_t size = (i == 0 ? 216 : 108) * MB;
    EXPECT_EQ(file->first, size) << i;
    EXPECT_GE(file->second, size) << i << ": the blocks are really reserved";
    EXPECT_EQ(completions.value(i), qMakePair(CaptureFilePath(i), true)) << i;
  }
  const QList<ui::MessageRequest> messages = Messages();
  ASSERT_EQ(messages.size(), 2);
  EXPECT_EQ(messages[0].text,
            "The pre-allocation of video files will now\r\nbe created. This could take 2-3 mins. Do you\r\n"
            "want to create the pre-allocation video viles now ?");
  EXPECT_EQ(messages[0].type, ui::MsgDlgType::mtInformation);
  EXPECT_EQ(messages[0].buttons, ui::mbYes | ui::mbNo);
  EXPECT_EQ(messages[0].position, form->pos() + QPoint(120, 100));
  EXPECT_EQ(messages[1].text, PreallocationClosingMessage({}));
  EXPECT_TRUE(messages[1].text.startsWith("All pre-allocated files have now been written"));
  EXPECT_EQ(messages[1].position, form->pos() + QPoint(170, -20));
  EXPECT_EQ(closedWith, QList<bool>{true});
  EXPECT_EQ(terminatedWhenClosed, QList<bool>{false});
  EXPECT_TRUE(ui::Terminated());
}

TEST_F(CaptureAppPreallocation, NoAnswersNothingAndCancelDuringTheRunKeepsTheFilesMade) {
  auto form = MakeForm(4 * GB);
  dialogs.dialogs.Push(ui::mrNo);
  dialogs.dialogs.Push(ui::mrYes);
  RunCheck(*form, [&](TPreallocatedCaptureForm& f) {
    Click(f, "BitBtn5");
    EXPECT_FALSE(mediator.PreallocationRunning) << "No starts nothing";
    EXPECT_TRUE(f.findChild<QPushButton*>("BitBtn5")->isEnabled());
    Click(f, "BitBtn5");
    for (int i = 0; i < 3; ++i) f.PreAllocationTimerTimer();
    EXPECT_TRUE(f.findChild<QTimer*>("PreAllocationTimer")->isActive());
    Click(f, "BitBtn6");
    EXPECT_FALSE(f.findChild<QTimer*>("PreAllocationTimer")->isActive()) << "no step comes after the close";
  });
  EXPECT_EQ(form->result(), ui::mrCancel);
  for (int i = 0; i < kCaptureFileCount; ++i) EXPECT_EQ(SizeAndReserved(CaptureFilePath(i)).has_value(), i < 3) << i;
  EXPECT_EQ(closedWith, QList<bool>{false});
  EXPECT_FALSE(mediator.PreallocationRunning);
  EXPECT_FALSE(ui::Terminated());
  EXPECT_EQ(Messages().size(), 2) << "the two questions, no advice";
}

TEST_F(CaptureAppPreallocation, AFileThatCannotBeMadeFailsAloneAndTheAdviceNamesIt) {
  const QString blocked = CaptureFilePath(5);
  ASSERT_TRUE(QDir().mkpath(blocked));  // a folder holds the file's name
  auto form = MakeForm(4 * GB);
  dialogs.dialogs.Push(ui::mrYes);
  dialogs.dialogs.Push(ui::mrOk);
  QList<int> bars;
  RunCheck(*form, [&](TPreallocatedCaptureForm& f) {
    Click(f, "BitBtn5");
    bars = StepRun(f);
  });
  EXPECT_EQ(bars, kBars);
  for (int i = 0; i < kCaptureFileCount; ++i) {
    EXPECT_EQ(SizeAndReserved(CaptureFilePath(i)).has_value(), i != 5) << i;
    EXPECT_EQ(completions.value(i), qMakePair(CaptureFilePath(i), i != 5)) << i;
  }
  EXPECT_TRUE(QFileInfo(blocked).isDir());
  const QList<ui::MessageRequest> messages = Messages();
  ASSERT_EQ(messages.size(), 2);
  EXPECT_EQ(messages[1].text, PreallocationClosingMessage({blocked}));
  EXPECT_TRUE(messages[1].text.contains(blocked));
  EXPECT_TRUE(ui::Terminated()) << "the program still ends";
}

TEST_F(CaptureAppPreallocation, ARunGoesOnWhereTheComponentReportsNoCompletion) {
  // Files large enough already are kept without a completion; a busy component refuses without
  // one. Either way the run reaches its end, and a refused file is reported as failed.
  for (int i = 0; i < kCaptureFileCount; ++i)
    ASSERT_TRUE(MakeSparseFile(CaptureFilePath(i), (i == 0 ? 216 : 108) * MB));
  QStringList refused;
  {
    auto form = MakeForm(0);
    dialogs.dialogs.Push(ui::mrYes);
    dialogs.dialogs.Push(ui::mrOk);
    QList<int> bars;
    RunCheck(*form, [&](TPreallocatedCaptureForm& f) {
      EXPECT_EQ(VisiblePanels(f), QStringList{"Panel3"});
      Click(f, "BitBtn3");
      bars = StepRun(f);
    });
    EXPECT_EQ(bars, kBars);
    EXPECT_TRUE(completions.isEmpty());
    const QList<ui::MessageRequest> messages = Messages();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[0].text,
              "The pre-allocation of video files will now\r\nbe recreated. This could take 2-3 mins. Do you\r\n"
              "want to overwrite the pre-allocation video viles now ?");
    EXPECT_EQ(messages[0].type, ui::MsgDlgType::mtWarning);
    EXPECT_EQ(messages[1].text, PreallocationClosingMessage({}));
  }

  ui::ResetTerminated();
  for (int i = 0; i < kCaptureFileCount; ++i) QFile::remove(CaptureFilePath(i));
  ASSERT_GE(CameraIndex(), 0);
  framecatcher->SetVideoDevice(CameraIndex());
  ASSERT_TRUE(framecatcher->StartPreview());
  QStringList failed;
  QObject::connect(&mediator, &CaptureMediator::PreallocFileCompleted, [&](const QString& name, bool ok) {
    if (!ok) failed << name;
  });
  auto form = MakeForm(4 * GB);
  dialogs.dialogs.Push(ui::mrYes);
  dialogs.dialogs.Push(ui::mrOk);
  QList<int> bars;
  RunCheck(*form, [&](TPreallocatedCaptureForm& f) {
    Click(f, "BitBtn5");
    bars = StepRun(f);
  });
  framecatcher->StopPreview();
  EXPECT_EQ(bars, kBars);
  QStringList all;
  for (int i = 0; i < kCaptureFileCount; ++i) all << CaptureFilePath(i);
  EXPECT_EQ(failed, all);
  EXPECT_EQ(Messages().value(3).text, PreallocationClosingMessage(all));
  EXPECT_TRUE(ui::Terminated());
}

}  // namespace
}  // namespace kestrom::capture::test
