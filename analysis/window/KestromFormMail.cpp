// Mailing the open video and its memo: through the e-mail window, or by handing the video's
// base name to the outside mail program.
#include "common/startup/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Sheets.h"
#include "platform/core/Paths.h"
#include "platform/shell/Shell.h"
#include "platform/winmsg/WinMsg.h"

#include <QAction>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolButton>

namespace kestrom::window {

void TKestromForm::CreateMailControls() {
  EmailPopupMenu = new QMenu(this);
  EmailPopupMenu->setObjectName("EmailPopupMenu");
  MailToOutlookExpress1 = EmailPopupMenu->addAction("Mail To: Outlook Express");
  MailToOutlookExpress1->setObjectName("MailToOutlookExpress1");
  MailToYourSMTPserver1 = EmailPopupMenu->addAction("Mail To: Your SMTP server");
  MailToYourSMTPserver1->setObjectName("MailToYourSMTPserver1");
  connect(MailToOutlookExpress1, &QAction::triggered, this, [this] { MailToOutlookExpress1Click(); });
  connect(MailToYourSMTPserver1, &QAction::triggered, this, [this] { MailToYourSMTPserver1Click(); });
  connect(EmailSpeedButton, &QToolButton::clicked, this, [this] { EmailSpeedButtonClick(); });
}

void TKestromForm::EmailSpeedButtonClick() {
  if (!VideoOpen) return;
  const QPoint at = Bounds().topLeft();
  EmailPopupMenu->popup(QPoint(at.x() + 480, at.y() + 86));
}

void TKestromForm::MailToOutlookExpress1Click() {
  TEmailForm* form = Forms().EmailForm;
  if (!form) return;
  form->ListBox1->clear();
  form->Memo2->clear();
  ShowCompanion(form, this, QPoint(50, 50));
  if (QFileInfo::exists(MailVideoFile)) form->AddAttachment(MailVideoFile);
  if (QFileInfo::exists(MailMemoFile)) form->AddAttachment(MailMemoFile);
}

void TKestromForm::MailToYourSMTPserver1Click() {
  const QPoint at = Bounds().topLeft();
  if (winmsg::FindWindow("TSendMailForm", QString())) {
    MessageDlgPosPaused("Kestrom Send Mail is already sending mail\r\nPlease wait till it has finished",
                        ui::MsgDlgType::mtWarning, ui::mbOK, at.x() + 20, at.y() + 20);
    return;
  }
  // The base name is one argument, blanks and quotes included.
  const QString program = shell::ProgramPath(core::JoinPath(shell::Globals().AppFolder, "\\SendMail.exe"));
  const shell::ShellResult started = shell::ShellExecute(program, {MailBaseName});
  if (!started)
    MessageDlgPosPaused("Kestrom Send Mail could not be started.\r\n" + started.reason, ui::MsgDlgType::mtError,
                        ui::mbOK, at.x() + 64, at.y() + 86);
}

}  // namespace kestrom::window
