#include "capture/app/PreallocatedCaptureForm.h"

#include "platform/ui/FormSupport.h"
#include "platform/ui/ModalForms.h"
#include "capture/app/CaptureMediator.h"
#include "capture/app/FormTimers.h"
#include "platform/core/Paths.h"
#include "platform/ui/CaptionFit.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Panels.h"
#include "platform/ui/Terminate.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>

namespace kestrom::capture {

namespace {

constexpr int kClientWidth = 457;
constexpr int kPanelHeight = 177;
constexpr int kDiskPanelHeight = 150;

QFrame* AddPanel(QWidget* form, const char* name) {
  QFrame* panel = ui::AddPanel(form, QString::fromLatin1(name), QRect(0, 0, kClientWidth, kPanelHeight));
  panel->hide();
  return panel;
}

QProgressBar* AddBar(QWidget* panel, const QString& name, int top) {
  auto* bar = new QProgressBar(panel);
  bar->setObjectName(name);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setGeometry(16, top, kClientWidth - 32, 16);
  return bar;
}

// A label placed after another on the same line.
QLabel* AddLabelAfter(QWidget* panel, const QString& name, const QString& text, const QLabel* before) {
  return ui::AddLabel(panel, name, text, before->x() + before->width() + 4, before->y());
}

}  // namespace

TPreallocatedCaptureForm::TPreallocatedCaptureForm(CaptureMediator& mediator, QWidget* parent)
    : QDialog(parent), mediator_(mediator) {
  using ui::AddButton;
  using ui::AddLabel;
  setObjectName("PreallocatedCaptureForm");
  setWindowTitle("Pre-Allocation File Capture Status");
  ui::SetFixedDialogBorder(this);
  resize(kClientWidth, kDiskPanelHeight);
  FreeSpaceProbe = [](const QString& folder) { return core::FreeSpace(folder); };

  ShowTimer = new QTimer(this);
  ShowTimer->setObjectName("ShowTimer");
  ShowTimer->setSingleShot(true);
  ShowTimer->setInterval(100);
  connect(ShowTimer, &QTimer::timeout, this, [this] { ShowTimerTimer(); });
  PreAllocationTimer = new QTimer(this);
  PreAllocationTimer->setObjectName("PreAllocationTimer");
  PreAllocationTimer->setSingleShot(true);
  PreAllocationTimer->setInterval(500);
  connect(PreAllocationTimer, &QTimer::timeout, this, [this] { PreAllocationTimerTimer(); });

  // Panel1: the space figures and a recommendation the coach may change.
  Panel1 = AddPanel(this, "Panel1");
  AddLabel(Panel1, "Label10", "Audio and Video ( AVI ) Files Setup", 16, 8);
  const QLabel* reservedText = AddLabel(Panel1, "Label11", "Space already reserved (GB) : ", 16, 32);
  Label1 = AddLabelAfter(Panel1, "Label1", "0.00", reservedText);
  const QLabel* freeText = AddLabel(Panel1, "Label12", "Free space on the drive (GB) : ", 16, 52);
  Label4 = AddLabelAfter(Panel1, "Label4", "0.00", freeText);
  const QLabel* recommendedText = AddLabel(Panel1, "Label13", "Recommended space (GB) : ", 16, 72);
  Label7 = AddLabelAfter(Panel1, "Label7", "0.00", recommendedText);
  SpinEdit1 = new QSpinBox(Panel1);
  SpinEdit1->setObjectName("SpinEdit1");
  SpinEdit1->setRange(1, 10);
  SpinEdit1->setValue(6);
  SpinEdit1->setGeometry(340, 68, 60, 22);
  connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { SpinEdit1Change(); });
  ProgressBars[0] = AddBar(Panel1, "ProgressBar1", 112);
  BitBtn1 = AddButton(Panel1, "BitBtn1", "&Yes", 120, 144, 75, 25);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(AddButton(Panel1, "BitBtn2", "Cancel", 262, 144, 75, 25), &QPushButton::clicked, this,
          [this] { BitBtn2Click(); });

  // Panel3: the set exists already.
  Panel3 = AddPanel(this, "Panel3");
  AddLabel(Panel3, "Label14", "Audio and Video ( AVI ) Files Setup Already Completed ", 16, 8);
  AddLabel(Panel3, "Label15", "The initial video file pre-allocation setup process has already been completed.", 16, 32);
  AddLabel(Panel3, "Label16", " If you are able to capture video files with NO dropped frames then there is NO", 16, 52);
  AddLabel(Panel3, "Label17", "need to go through the video file setup process again.", 16, 68);
  AddLabel(Panel3, "Label18", "Do you want to go through the setup process again ?", 16, 92);
  ProgressBars[1] = AddBar(Panel3, "ProgressBar2", 118);
  BitBtn3 = AddButton(Panel3, "BitBtn3", "&Yes", 120, 144, 75, 25);
  connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(AddButton(Panel3, "BitBtn4", "Cancel", 262, 144, 75, 25), &QPushButton::clicked, this,
          [this] { BitBtn4Click(); });

  // Panel4: the set is missing and fits.
  Panel4 = AddPanel(this, "Panel4");
  AddLabel(Panel4, "Label19", "Audio and Video ( AVI ) Files Ready for Initial Setup", 16, 8);
  AddLabel(Panel4, "Label20", "The inital setup process is now ready to create the pre-allocation files. ", 16, 32);
  AddLabel(Panel4, "Label21", "Do you want to continue and start the pre-allocation process ? This will take", 16, 56);
  AddLabel(Panel4, "Label22", "about 2-3 minutes. ", 16, 72);
  ProgressBars[2] = AddBar(Panel4, "ProgressBar3", 118);
  BitBtn5 = AddButton(Panel4, "BitBtn5", "&Yes", 120, 144, 75, 25);
  connect(BitBtn5, &QPushButton::clicked, this, [this] { BitBtn5Click(); });
  connect(AddButton(Panel4, "BitBtn6", "Cancel", 262, 144, 75, 25), &QPushButton::clicked, this,
          [this] { BitBtn6Click(); });

  // Panel5: the set is missing and does not fit.
  Panel5 = AddPanel(this, "Panel5");
  Panel5->resize(kClientWidth, kDiskPanelHeight);
  AddLabel(Panel5, "Label23", "Insufficient Space for Audio and Video ( AVI ) Files Setup", 16, 8);
  const QLabel* spaceText = AddLabel(Panel5, "Label24", "There is insufficient space on your  ", 16, 36);
  DriveLabels[0] = AddLabelAfter(Panel5, "DriveLabel1", "C", spaceText);
  AddLabelAfter(Panel5, "Label25", "drive for the pre-allocation files.", DriveLabels[0]);
  const QLabel* closeText =
      AddLabel(Panel5, "Label26", "Please close this program and try to free extra disk space on ", 16, 60);
  DriveLabels[1] = AddLabelAfter(Panel5, "DriveLabel2", "C", closeText);
  AddLabelAfter(Panel5, "Label27", "drive.", DriveLabels[1]);
  connect(AddButton(Panel5, "BitBtn8", "OK", 191, 112, 75, 25), &QPushButton::clicked, this,
          [this] { BitBtn8Click(); });

  // Panel6: a partial set-up, for what space there is.
  Panel6 = AddPanel(this, "Panel6");
  AddLabel(Panel6, "Label28", "Partial Setup of Audio and Video ( AVI ) Files", 16, 8);
  const QLabel* partialText = AddLabel(Panel6, "Label29", "There is only space for part of the files on your  ", 16, 32);
  DriveLabels[2] = AddLabelAfter(Panel6, "DriveLabel3", "C", partialText);
  AddLabelAfter(Panel6, "Label30", "drive.", DriveLabels[2]);
  const QLabel* freeMoreText = AddLabel(Panel6, "Label31", "For the whole setup close this program and free disk space on ", 16, 52);
  DriveLabels[3] = AddLabelAfter(Panel6, "DriveLabel4", "C", freeMoreText);
  AddLabelAfter(Panel6, "Label32", "drive.", DriveLabels[3]);
  AddLabel(Panel6, "Label33", "Do you want to continue with a partial setup ?", 16, 76);
  ProgressBars[3] = AddBar(Panel6, "ProgressBar4", 118);
  connect(AddButton(Panel6, "BitBtn9", "&Yes", 48, 144, 75, 25), &QPushButton::clicked, this,
          [this] { BitBtn9Click(); });
  BitBtn10 = AddButton(Panel6, "BitBtn10", "Continue", 191, 144, 75, 25);
  connect(BitBtn10, &QPushButton::clicked, this, [this] { BitBtn10Click(); });
  connect(AddButton(Panel6, "BitBtn11", "Cancel", 334, 144, 75, 25), &QPushButton::clicked, this,
          [this] { BitBtn11Click(); });

  FitToText();

  connect(&mediator_, &CaptureMediator::PreallocationCheckRequested, this, [this] { ArmTimer(*ShowTimer); });
  connect(&mediator_, &CaptureMediator::PreallocFileCompleted, this,
          [this](const QString& fileName, bool success) { PreallocFileCompleted(fileName, success); });
}

// The panels were drawn for narrower letters than a Linux font has: the form widens to its longest
// line rather than cut it, and the panels and their bars with it.
void TPreallocatedCaptureForm::FitToText() {
  int width = kClientWidth;
  for (QFrame* panel : {Panel1, Panel3, Panel4, Panel5, Panel6}) {
    ui::WidenLabelsToText(panel);
    width = std::max(width, ui::WidthToHoldChildren(panel, 16));
  }
  for (QFrame* panel : {Panel1, Panel3, Panel4, Panel5, Panel6}) panel->resize(width, panel->height());
  for (QProgressBar* bar : ProgressBars) bar->resize(width - 2 * bar->x(), bar->height());
  resize(width, height());
}

void TPreallocatedCaptureForm::FormShow() {
  const QPoint captureForm = mediator_.CaptureFormPos();
  ui::PlaceForm(this, captureForm.x() + 300, captureForm.y() + 100);
}

void TPreallocatedCaptureForm::ShowDiskPanel() {
  for (QFrame* panel : {Panel1, Panel3, Panel4, Panel5, Panel6}) panel->hide();
  BitBtn3->setEnabled(true);
  BitBtn5->setEnabled(true);
  BitBtn10->setEnabled(true);
  const QString letter = SystemDriveLetter();
  for (QLabel* label : DriveLabels) label->setText(letter);
  resize(Panel3->width(), kDiskPanelHeight);
}

void TPreallocatedCaptureForm::SetBars(int percent) {
  for (QProgressBar* bar : ProgressBars) bar->setValue(percent);
}

void TPreallocatedCaptureForm::ShowTimerTimer() {
  ShowTimer->stop();
  if (open_) return;  // a check is on screen already
  SpinEdit1->setEnabled(false);
  BitBtn1->setEnabled(false);
  SetBars(0);
  run_ = PreallocationRun();
  const PreallocationCheck check =
      CheckPreallocation(PresentPreallocatedFiles(), FreeSpaceProbe(Globals().WorkingFolder));
  FreeGB = check.FreeGB;
  ReservedGB = check.ReservedGB;
  switch (check.panel) {
    case PreallocPanel::Panel3:
      RecommendedGB = kRecommendedGB;
      ShowPanelModally(Panel3, kPanelHeight);
      break;
    case PreallocPanel::Panel5:
      SpinEdit1->setValue(0);
      SpinEdit1->setEnabled(false);
      BitBtn1->setEnabled(false);
      ShowPanelModally(Panel5, kDiskPanelHeight);
      break;
    case PreallocPanel::Panel4:
      RecommendedGB = kRecommendedGB;
      Label1->setText(QString::number(ReservedGB, 'f', 2));
      Label4->setText(QString::number(FreeGB, 'f', 2));
      Label7->setText(QString::number(RecommendedGB, 'f', 2));
      ShowPanelModally(Panel4, kPanelHeight);
      break;
  }
}

void TPreallocatedCaptureForm::ShowPanelModally(QFrame* panel, int clientHeight) {
  ShowDiskPanel();
  resize(Panel3->width(), clientHeight);
  panel->show();
  FormShow();
  open_ = true;
  programEnding_ = false;
  const int result = ui::ShowModal(*this);
  // A modal loop ended from outside (the program ending) still closes the form.
  if (open_) done(result);
}

namespace {

// The confirmation before the files are made, below and right of the form; true for Yes.
bool ConfirmRun(QWidget* form, const QString& text, ui::MsgDlgType type) {
  return ui::AppDialogs().MessageDlgPos(text, type, ui::mbYes | ui::mbNo, form->x() + 120, form->y() + 100, form) ==
         ui::mrYes;
}

}  // namespace

void TPreallocatedCaptureForm::BitBtn1Click() {
  if (!ConfirmRun(this,
                  "The pre-allocation of video files will now\r\n"
                  "be recreated. This could take 2-3 mins. Do you\r\n"
                  "want to overwrite the pre-allocation video viles now ?",
                  ui::MsgDlgType::mtWarning))
    return;
  BitBtn3->setEnabled(false);
  BitBtn5->setEnabled(false);
  StartPreallocation();
}

void TPreallocatedCaptureForm::BitBtn5Click() {
  if (!ConfirmRun(this,
                  "The pre-allocation of video files will now\r\n"
                  "be created. This could take 2-3 mins. Do you\r\n"
                  "want to create the pre-allocation video viles now ?",
                  ui::MsgDlgType::mtInformation))
    return;
  BitBtn3->setEnabled(false);
  BitBtn5->setEnabled(false);
  StartPreallocation();
}

void TPreallocatedCaptureForm::BitBtn10Click() {
  if (!ConfirmRun(this,
                  "The pre-allocation of video files will now\r\n"
                  "be created. This could take 2-3 mins. Do you\r\n"
                  "want to create the pre-allocation video files now ?",
                  ui::MsgDlgType::mtInformation))
    return;
  BitBtn10->setEnabled(false);
  StartPreallocation();
}

void TPreallocatedCaptureForm::CancelClick() {
  run_.Cancel();
  // No file is under way while a click is handled: the component makes each file within one step.
  done(ui::mrCancel);
}

void TPreallocatedCaptureForm::BitBtn8Click() { EndProgram(ui::mrOk); }

void TPreallocatedCaptureForm::BitBtn9Click() { EndProgram(ui::mrYes); }

void TPreallocatedCaptureForm::EndProgram(int modalResult) {
  // The form closes first, so that its modal loop is over and the capture form has heard of the
  // close before the end is asked for.
  programEnding_ = true;
  done(modalResult);
  ui::Terminate();
}

void TPreallocatedCaptureForm::SpinEdit1Change() { RecommendedGB = SpinEdit1->value(); }

void TPreallocatedCaptureForm::StartPreallocation() {
  mediator_.PreallocationRunning = true;
  run_.Start();
  FileSizeMB = kPreallocFileSizeMB;
  ArmTimer(*PreAllocationTimer);
}

void TPreallocatedCaptureForm::PreAllocationTimerTimer() {
  PreAllocationTimer->stop();
  const PreallocationRun::Step step = run_.Next();
  if (step.kind == PreallocationRun::Step::Close) {
    done(ui::mrCancel);
    return;
  }
  SetBars(step.progress.value_or(0));
  if (step.kind == PreallocationRun::Step::Finish) {
    ui::AppDialogs().MessageDlgPos(step.message, ui::MsgDlgType::mtInformation, ui::mbOK, x() + 170, y() - 20, this);
    EndProgram(ui::mrOk);
    return;
  }
  engine::TFramecatcher* framecatcher = mediator_.Framecatcher();
  awaitedFile_ = step.fileName;
  bool made = false;
  if (framecatcher) {
    framecatcher->SetPreallocCapFileEnabled(true);
    framecatcher->SetPreallocCapFileName(step.fileName);
    framecatcher->SetPreallocCapFileSizeInMB(step.fileIndex == 0 ? 2 * FileSizeMB : FileSizeMB);
    made = framecatcher->CreatePreallocatedFile();
  }
  if (awaitedFile_.isEmpty()) return;  // its completion came and armed the next step
  // No completion comes when the component keeps a file that is large enough already, or refuses
  // before it starts (it is busy); the run must not stall on either.
  if (made) {
    awaitedFile_.clear();
    ArmTimer(*PreAllocationTimer);
  } else {
    // Reported as the component would, so that the capture form logs it; handled below as a failure.
    emit mediator_.PreallocFileCompleted(step.fileName, false);
  }
}

void TPreallocatedCaptureForm::PreallocFileCompleted(const QString& fileName, bool success) {
  if (awaitedFile_.isEmpty() || fileName != awaitedFile_) return;  // not a file of this run
  awaitedFile_.clear();
  run_.FileCompleted(fileName, success);
  ArmTimer(*PreAllocationTimer);
}

void TPreallocatedCaptureForm::FormClose() {
  // The run ends with the form: no step of it comes after the capture form is told.
  PreAllocationTimer->stop();
  awaitedFile_.clear();
  mediator_.PreallocationRunning = false;
  emit mediator_.PreallocationClosed(programEnding_ || ui::Terminated());
}

void TPreallocatedCaptureForm::done(int result) {
  if (open_) {
    open_ = false;
    FormClose();
  }
  QDialog::done(result);
}

}  // namespace kestrom::capture
