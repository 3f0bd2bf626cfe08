// The e-mail window and the analysis window's two ways of mailing the open video and its memo,
// against a real SMTP server and real outside programs.
#include "StartUpFixture.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/Sheets.h"
#include "platform/core/Paths.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/platform/mail/MailTestSupport.h"
#include "tests/platform/winmsg/PeerProcess.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>

namespace kestrom::window {
namespace {

class EmailForm : public test::StartUpFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime.isValid());
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime.path()).constData(), 1);
    ASSERT_NE(server.Port(), 0) << "the SMTP server did not start";
    accounts.Add({"00000001", "coach@club.example", "127.0.0.1", server.Port()});
    accounts.SetDefault("00000001");
    StartUpFixture::SetUp();
    Main()->StartTimer->stop();
    Main()->VideoOpen = true;
    Main()->MailVideoFile = WriteFile("long jump.avi", QByteArray(70000, '\x5a') + "end");
    Main()->MailMemoFile = folder.filePath("long jump.txt");
    Main()->MailBaseName = folder.filePath("long jump");
  }
  void TearDown() override {
    StartUpFixture::TearDown();
    winmsg::Shutdown();
  }

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = folder.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  TEmailForm* Form() { return Forms().EmailForm; }

  // "Mail To: Outlook Express", then the addresses and text as the coach types them.
  void Compose(const QString& to, const QString& bcc = {}) {
    Main()->MailToOutlookExpress1->trigger();
    Form()->Memo2->setPlainText(to);
    Form()->Memo4->setPlainText(bcc);
    Form()->Memo1->setPlainText("Take-off at frame 12.");
  }

  QTemporaryDir runtime;
  test::MailAccountsFixture accounts;
  test::SmtpServer server;
  QTemporaryDir folder;
};

TEST_F(EmailForm, MailsTheVideoAndMemoToEveryListOnce) {
  Form()->Memo2->setPlainText("someone.old@team.example");
  Form()->AddAttachment("/old/attachment.avi");
  EXPECT_FALSE(Main()->EmailPopupMenu->isVisible());
  Main()->EmailSpeedButton->click();
  EXPECT_TRUE(Main()->EmailPopupMenu->isVisible());
  Main()->EmailPopupMenu->hide();

  // No memo yet: only the video goes; what the last use left in To and the attachments is gone.
  Main()->MailToOutlookExpress1->trigger();
  EXPECT_TRUE(Form()->isVisible());
  EXPECT_EQ(Form()->Attachments(), QStringList{Main()->MailVideoFile});
  EXPECT_TRUE(Form()->Memo2->toPlainText().isEmpty());
  EXPECT_EQ(Form()->Edit3->text(), "Kestrom Video Export");
  EXPECT_EQ(Form()->ComboBox1->currentText(), "coach@club.example");

  const QByteArray memo = "Name\r\nComments: good knee drive\r\n";
  WriteFile("long jump.txt", memo);
  Compose("anna@team.example\n\n  \nben@team.example\n", "coach2@club.example");
  EXPECT_EQ(Form()->Attachments(), QStringList({Main()->MailVideoFile, Main()->MailMemoFile}));
  Form()->SpeedButton1->click();

  EXPECT_TRUE(dialogs.dialogs.MessageTexts().isEmpty()) << dialogs.dialogs.MessageTexts().join("|").toStdString();
  const std::vector<test::ReceivedMail> mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].to, QStringList({"anna@team.example", "ben@team.example", "coach2@club.example"}));
  EXPECT_TRUE(mails[0].Header("Bcc").isEmpty());
  EXPECT_EQ(mails[0].Header("Subject"), QStringList{"Kestrom Video Export"});
  EXPECT_EQ(mails[0].attachments.at("long jump.avi"), QByteArray(70000, '\x5a') + "end");
  EXPECT_EQ(mails[0].attachments.at("long jump.txt"), memo);
  EXPECT_TRUE(Form()->isVisible());
  EXPECT_TRUE(Form()->SpeedButton1->isEnabled());
  EXPECT_EQ(accounts.Default(), "00000001");
}

TEST_F(EmailForm, FailuresShowTheirBoxAndSendNothing) {
  Compose("anna@team.example");
  Form()->AddAttachment(folder.filePath("gone.avi"));
  dialogs.dialogs.Push(ui::mrOk);
  Form()->SpeedButton1->click();
  EXPECT_EQ(dialogs.dialogs.MessageTexts(), QStringList{"No Attachment Found"});
  EXPECT_TRUE(server.Messages().empty());

  // The size limit of a second account's server, chosen by the sender.
  test::SmtpServer small({4096, {}, false});
  ASSERT_NE(small.Port(), 0);
  accounts.Add({"00000002", "big@club.example", "127.0.0.1", small.Port()});
  Form()->MapiPostMail1->LoadAccounts();
  Form()->ListBox1->setCurrentRow(1);
  Form()->SpeedButton3->click();
  ASSERT_EQ(Form()->Attachments(), QStringList{Main()->MailVideoFile});
  Form()->ComboBox1->setEditText("big@club.example");
  dialogs.dialogs.Push(ui::mrOk);
  Form()->SpeedButton1->click();
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 2);
  QStringList lines = dialogs.dialogs.MessageTexts()[1].split("\r\n");
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], "Error sending mail (2).");
  EXPECT_TRUE(lines[1].contains("552")) << lines[1].toStdString();
  EXPECT_TRUE(small.Messages().empty());

  server.Stop();
  Form()->ComboBox1->setEditText("coach@club.example");
  dialogs.dialogs.Push(ui::mrOk);
  Form()->SpeedButton1->click();
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 3);
  lines = dialogs.dialogs.MessageTexts()[2].split("\r\n");
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], "Error sending mail (23).");
  EXPECT_FALSE(lines[1].isEmpty());
  EXPECT_TRUE(Form()->isVisible());

  // "Reset All" empties everything, so "Send" has nobody to send to.
  Form()->SpeedButton5->click();
  EXPECT_TRUE(Form()->Attachments().isEmpty());
  EXPECT_TRUE(Form()->Edit3->text().isEmpty());
  EXPECT_TRUE(Form()->MapiPostMail1->ToEmail.isEmpty());
  dialogs.dialogs.Push(ui::mrOk);
  Form()->SpeedButton1->click();
  EXPECT_EQ(dialogs.dialogs.MessageTexts().last(), "Your email:sendto list is empty");
}

TEST_F(EmailForm, AddressBookFillsTheThreeLists) {
  Compose("anna@team.example");
  dialogs.dialogs.Push(ui::AddressLists{{"ben@team.example"}, {"cc@team.example"}, {"bcc@team.example"}});
  Form()->SpeedButton8->click();
  EXPECT_EQ(Form()->Memo2->toPlainText(), "anna@team.example\nben@team.example");
  EXPECT_EQ(Form()->Memo3->toPlainText(), "cc@team.example");
  EXPECT_EQ(Form()->Memo4->toPlainText(), "bcc@team.example");
  dialogs.dialogs.Push(std::monostate{});
  dialogs.dialogs.Push(ui::mrOk);
  Form()->SpeedButton6->click();
  EXPECT_EQ(dialogs.dialogs.MessageTexts(), QStringList{"No addresses added"});
}

TEST_F(EmailForm, OutsideMailProgramGetsTheBaseNameAsOneArgumentUnlessItRuns) {
  Main()->MailBaseName = folder.filePath("jump \"final\" take 2");
  const QString program = core::JoinPath(shell::Globals().AppFolder, "\\SendMail");
  const QString record = folder.filePath("sendmail-record");
  qputenv("RECORDER_OUT", record.toLocal8Bit());

  // Not there: the coach is told why.
  dialogs.dialogs.Push(ui::mrOk);
  Main()->MailToYourSMTPserver1->trigger();
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith("Kestrom Send Mail could not be started.\r\n"));

  ASSERT_TRUE(QFile::copy(test::BinPath("shell-recorder"), program));
  {
    test::PeerProcess sending("Kestrom Send Mail", "TSendMailForm", "Hidden", "TPeerForm");
    ASSERT_TRUE(sending.Ready());
    dialogs.dialogs.Push(ui::mrOk);
    Main()->MailToYourSMTPserver1->trigger();
    EXPECT_EQ(dialogs.dialogs.MessageTexts().last(),
              "Kestrom Send Mail is already sending mail\r\nPlease wait till it has finished");
    EXPECT_FALSE(QFileInfo::exists(record));
  }
  ASSERT_TRUE(test::WaitUntil([] { return !winmsg::FindWindow("TSendMailForm", QString()); }));
  Main()->MailToYourSMTPserver1->trigger();
  ASSERT_TRUE(test::WaitUntil([&] { return QFileInfo::exists(record); })) << "not started";
  QFile file(record);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> fields = file.readAll().split('\0');
  ASSERT_EQ(fields.size(), 2);
  EXPECT_EQ(QString::fromUtf8(fields[1]), Main()->MailBaseName);
  qunsetenv("RECORDER_OUT");
}

}  // namespace
}  // namespace kestrom::window
