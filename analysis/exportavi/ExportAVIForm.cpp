#include "analysis/exportavi/ExportAVIForm.h"

#include "platform/core/Paths.h"
#include "platform/media/LibraryLog.h"
#include "platform/winmsg/WidgetWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace kestrom::exportavi {

TExportAVIForm::TExportAVIForm(const QStringList& arguments, const QString& frameFolder, QWidget* parent)
    : QWidget(parent, Qt::Window) {
  setObjectName("ExportAVIForm");
  setWindowTitle("Kestrom Export AVI");
  setFixedSize(480, 130);
  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName("StatusLabel");
  StatusLabel->setGeometry(12, 10, 456, 44);
  StatusLabel->setWordWrap(true);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(12, 58, 456, 20);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setGeometry(393, 92, 75, 25);
  connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
  PollTimer = new QTimer(this);
  PollTimer->setObjectName("PollTimer");
  PollTimer->setInterval(50);
  connect(PollTimer, &QTimer::timeout, this, [this] { PollTimerTimer(); });

  QString error;
  if (const std::optional<ExportArguments> parsed = ParseExportArguments(arguments, &error)) {
    joiner_ = std::make_unique<FrameJoiner>(*parsed, frameFolder);
    ProgressBar1->setRange(0, parsed->count);
    StatusLabel->setText("Creating " + parsed->file);
  } else {
    argumentsError_ = error;
  }
  winmsg::WidgetWindow::Attach(this, "TExportAVIForm");
}

TExportAVIForm::~TExportAVIForm() = default;

void TExportAVIForm::Start() {
  if (ended_) return;
  if (!joiner_) {
    Finish(argumentsError_);
    return;
  }
  if (!joiner_->Start()) {
    Finish(joiner_->Error());
    return;
  }
  PollTimer->start();
}

void TExportAVIForm::PollTimerTimer() {
  const JoinState state = joiner_->Poll();
  ProgressBar1->setValue(joiner_->FramesDone());
  if (state == JoinState::Running) return;
  PollTimer->stop();
  Finish(state == JoinState::Finished ? QString() : joiner_->Error());
}

void TExportAVIForm::CancelButtonClick() {
  if (joiner_ && joiner_->State() == JoinState::Running) {
    PollTimer->stop();
    joiner_->Cancel();
  }
  if (!announced_) AnnounceExportEnd({}, 0);
  announced_ = true;
  End(1);
}

void TExportAVIForm::Quit() { CancelButtonClick(); }

void TExportAVIForm::closeEvent(QCloseEvent* event) {
  event->accept();
  CancelButtonClick();
}

void TExportAVIForm::Finish(const QString& error) {
  const winmsg::WidgetWindow* entry = winmsg::WidgetWindow::Of(this);
  AnnounceExportEnd(error.isEmpty() ? joiner_->Arguments().file : QString(), entry ? entry->Handle() : 0);
  announced_ = true;
  if (error.isEmpty()) {
    End(0);
    return;
  }
  std::fprintf(stderr, "KestromExportAVI: %s\n", qPrintable(error));
  // What the libraries said is shown only now that something failed.
  for (const QString& line : media::LibraryMessages()) std::fprintf(stderr, "  %s\n", qPrintable(line));
  std::fflush(stderr);
  StatusLabel->setText("The video could not be created.\n" + error);
  CancelButton->setText("Close");
}

void TExportAVIForm::End(int exitCode) {
  ended_ = true;
  hide();
  QCoreApplication::exit(exitCode);
}

int ExportProgramMain(const QStringList& arguments) {
  media::UseLibraryLog();
  const QString frames = core::JoinPath(core::WorkingFolder(), "\\Temp");
  TExportAVIForm form(arguments, frames);
  winmsg::SetQuitHandler([&form] { form.Quit(); });
  form.show();
  QTimer::singleShot(0, &form, [&form] { form.Start(); });
  const int code = QApplication::exec();
  winmsg::SetQuitHandler({});
  winmsg::Shutdown();
  return code;
}

}  // namespace kestrom::exportavi
