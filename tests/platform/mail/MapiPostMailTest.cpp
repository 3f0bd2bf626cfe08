// The mail calls against a real SMTP server on 127.0.0.1: what arrives, from which account, and
// what is refused before anything is sent.
#include "MailTestSupport.h"
#include "platform/mail/MimeMessage.h"
#include "platform/mail/SimpleMapi.h"
#include "platform/mail/SmtpTransfer.h"
#include "platform/ui/Dialogs.h"

#include <QRandomGenerator>
#include <QTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrom::mail {
namespace {

class MapiPostMail : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(server.Port(), 0) << "the SMTP server did not start";
    accounts.Add({"00000001", "coach@club.example", "127.0.0.1", server.Port()});
    accounts.SetDefault("00000001");
    ForgetPasswords();
  }
  void TearDown() override { ForgetPasswords(); }

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = folder.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  static QByteArray RandomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes) b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
  }

  static MapiMessage Message(const QStringList& to, const QStringList& bcc = {}) {
    MapiMessage m;
    m.lpszSubject = "Jump";
    m.lpszNoteText = "See the take-off.\r\n";
    for (const QString& a : to) m.lpRecips.push_back({0, MAPI_TO, a, "SMTP:" + a});
    for (const QString& a : bcc) m.lpRecips.push_back({0, MAPI_BCC, a, "SMTP:" + a});
    return m;
  }

  test::MailAccountsFixture accounts;
  test::SmtpServer server;
  QTemporaryDir folder;
  ui::ScopedScriptedDialogs dialogs;
};

TEST_F(MapiPostMail, VideoAndMemoReachTwoToAndOneBccOnce) {
  const QByteArray video = RandomBytes(300 * 1024 + 7);  // not a whole number of base64 lines
  const QByteArray memo = "Name\r\nComments: knee angle 143\xC2\xB0\r\n";
  MapiMessage m = Message({"anna@team.example", "ben@team.example"}, {"coach2@club.example"});
  m.lpszSubject = QString::fromUtf8("Sprung \xE2\x80\x93 \xC3\x9C" "bung mit sehr langem Betreff, der umbrochen wird");
  m.lpszNoteText = QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e\r\n.a line that starts with a dot\r\n");
  m.lpFiles.push_back({0, 0, -1, WriteFile("jump 1.avi", video), {}});
  m.lpFiles.push_back({0, 0, -1, WriteFile(QString::fromUtf8("\xC3\x9C" "bung.txt"), memo), {}});

  ASSERT_EQ(MAPISendMail(0, nullptr, m, 0), SUCCESS_SUCCESS) << MapiLastErrorText().toStdString();

  const std::vector<test::ReceivedMail> mails = server.Messages();
  ASSERT_EQ(mails.size(), 1u);
  const test::ReceivedMail& mail = mails[0];
  EXPECT_EQ(mail.from, "coach@club.example");
  EXPECT_EQ(mail.to, QStringList({"anna@team.example", "ben@team.example", "coach2@club.example"}));
  EXPECT_EQ(mail.Header("From"), QStringList{"coach@club.example"});
  EXPECT_EQ(mail.Header("To"), QStringList{"anna@team.example, ben@team.example"});
  EXPECT_TRUE(mail.Header("Bcc").isEmpty());
  EXPECT_TRUE(mail.Header("Cc").isEmpty());
  EXPECT_TRUE(mail.Header("Disposition-Notification-To").isEmpty());
  EXPECT_EQ(mail.Header("Subject"), QStringList{m.lpszSubject});
  EXPECT_EQ(QString(mail.body).replace("\r\n", "\n"), m.lpszNoteText.replace("\r\n", "\n"));
  ASSERT_EQ(mail.attachments.size(), 2u);
  EXPECT_EQ(mail.attachments.at("jump 1.avi"), video);
  EXPECT_EQ(mail.attachments.at(QString::fromUtf8("\xC3\x9C" "bung.txt")), memo);
  // The address book learned whom the coach writes to.
  EXPECT_EQ(AddressBookEntries(), QStringList({"anna@team.example", "ben@team.example", "coach2@club.example"}));
  EXPECT_EQ(accounts.Default(), "00000001");
}

TEST_F(MapiPostMail, EventsAreHandledWhileTheMessageGoesOut) {
  MapiMessage m = Message({"anna@team.example"});
  m.lpFiles.push_back({0, 0, -1, WriteFile("long.avi", RandomBytes(4 * 1024 * 1024)), {}});
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(1);
  ASSERT_EQ(MAPISendMail(0, nullptr, m, 0), SUCCESS_SUCCESS) << MapiLastErrorText().toStdString();
  EXPECT_GT(ticks, 0) << "the windows were frozen during the upload";
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(MapiPostMail, SenderChoosesItsAccountAndTheDefaultStays) {
  test::SmtpServer second;
  ASSERT_NE(second.Port(), 0);
  accounts.Add({"00000002", "Trainer@Second.example", "127.0.0.1", second.Port()});
  const struct {
    QString sender;
    test::SmtpServer* expectedServer;
    QString expectedFrom;
  } cases[] = {
      {"trainer@second.EXAMPLE", &second, "Trainer@Second.example"},
      {"someone@else.example", &server, "coach@club.example"},  // no such account: the default sends
      {"", &server, "coach@club.example"},
  };
  size_t sentFirst = 0, sentSecond = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sender.toStdString());
    MapiMessage m = Message({"anna@team.example"});
    if (!c.sender.isEmpty()) m.lpOriginator = MapiRecipDesc{0, MAPI_ORIG, c.sender, c.sender};
    m.flFlags = MAPI_RECEIPT_REQUESTED;
    ASSERT_EQ(MAPISendMail(0, nullptr, m, 0), SUCCESS_SUCCESS) << MapiLastErrorText().toStdString();
    (c.expectedServer == &second ? sentSecond : sentFirst)++;
    ASSERT_EQ(server.Messages().size(), sentFirst);
    ASSERT_EQ(second.Messages().size(), sentSecond);
    const test::ReceivedMail mail = c.expectedServer->Messages().back();
    EXPECT_EQ(mail.from, c.expectedFrom);
    EXPECT_EQ(mail.Header("From"), QStringList{c.expectedFrom});
    EXPECT_EQ(mail.Header("Disposition-Notification-To"), QStringList{c.expectedFrom});
    EXPECT_EQ(accounts.Default(), "00000001");
  }
}

TEST_F(MapiPostMail, BadInputIsRefusedBeforeConnecting) {
  const QString video = WriteFile("jump.avi", "RIFF");
  const QString unreadable = WriteFile("locked.avi", "RIFF");
  QFile::setPermissions(unreadable, QFileDevice::WriteOwner);
  const struct {
    const char* what;
    std::function<void(MapiMessage&)> change;
    std::function<void()> setUp;
    ULONG code;
  } cases[] = {
      {"carriage return", [](MapiMessage& m) { m.lpRecips[0].lpszAddress = "SMTP:a@b.example\rRCPT TO:<x@y>"; }, {},
       MAPI_E_UNKNOWN_RECIPIENT},
      {"line feed", [](MapiMessage& m) { m.lpRecips[0].lpszAddress = "a@b.example\nBcc: x@y"; }, {},
       MAPI_E_UNKNOWN_RECIPIENT},
      {"angle bracket", [](MapiMessage& m) { m.lpRecips[0].lpszAddress = "a@b.example>"; }, {}, MAPI_E_UNKNOWN_RECIPIENT},
      {"opening bracket", [](MapiMessage& m) { m.lpRecips[0].lpszAddress = "<a@b.example"; }, {},
       MAPI_E_UNKNOWN_RECIPIENT},
      {"no @", [](MapiMessage& m) { m.lpRecips[0].lpszAddress = "anna"; }, {}, MAPI_E_UNKNOWN_RECIPIENT},
      {"only blank recipients", [](MapiMessage& m) { m.lpRecips[0].lpszAddress = "  "; }, {}, MAPI_E_UNKNOWN_RECIPIENT},
      {"subject with CR", [](MapiMessage& m) { m.lpszSubject = "Jump\rBcc: x@y"; }, {}, MAPI_E_FAILURE},
      {"subject with LF", [](MapiMessage& m) { m.lpszSubject = "Jump\nBcc: x@y"; }, {}, MAPI_E_FAILURE},
      {"missing attachment", [&](MapiMessage& m) { m.lpFiles.push_back({0, 0, -1, video + ".gone", {}}); }, {},
       MAPI_E_ATTACHMENT_NOT_FOUND},
      {"unreadable attachment", [&](MapiMessage& m) { m.lpFiles.push_back({0, 0, -1, unreadable, {}}); }, {},
       MAPI_E_ATTACHMENT_OPEN_FAILURE},
      {"no account", {}, [&] { accounts.SetDefault("00000009"); }, MAPI_E_LOGIN_FAILURE},
      {"no server", {}, [&] {
         accounts.Add({"00000003", "x@club.example", "", 25});
         accounts.SetDefault("00000003");
       }, MAPI_E_LOGIN_FAILURE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.code == MAPI_E_ATTACHMENT_OPEN_FAILURE && geteuid() == 0) continue;  // root reads every file
    accounts.SetDefault("00000001");
    if (c.setUp) c.setUp();
    MapiMessage m = Message({"anna@team.example"});
    m.lpFiles.push_back({0, 0, -1, video, {}});
    if (c.change) c.change(m);
    EXPECT_EQ(MAPISendMail(0, nullptr, m, 0), c.code);
    EXPECT_FALSE(MapiLastErrorText().isEmpty());
  }
  EXPECT_TRUE(server.Messages().empty());
  // Blank lines among good ones are no recipients.
  accounts.SetDefault("00000001");
  MapiMessage m = Message({"", "anna@team.example", "   "});
  ASSERT_EQ(MAPISendMail(0, nullptr, m, 0), SUCCESS_SUCCESS) << MapiLastErrorText().toStdString();
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_EQ(server.Messages()[0].to, QStringList{"anna@team.example"});
}

TEST_F(MapiPostMail, ARecipientRefusedByTheServerSendsNothing) {
  test::SmtpServer refusing({0, "nobody", false});
  ASSERT_NE(refusing.Port(), 0);
  accounts.Add({"00000001", "coach@club.example", "127.0.0.1", refusing.Port()});
  MapiMessage m = Message({"anna@team.example", "nobody@team.example"}, {"ben@team.example"});
  EXPECT_EQ(MAPISendMail(0, nullptr, m, 0), MAPI_E_UNKNOWN_RECIPIENT);
  EXPECT_TRUE(MapiLastErrorText().contains("nobody@team.example")) << MapiLastErrorText().toStdString();
  EXPECT_TRUE(MapiLastErrorText().contains("550")) << MapiLastErrorText().toStdString();
  EXPECT_TRUE(refusing.Messages().empty());
  EXPECT_TRUE(AddressBookEntries().isEmpty());
}

TEST_F(MapiPostMail, AStoppedServerAndASizeLimitGiveTheirCodeAndReason) {
  test::SmtpServer small({4096, {}, false});
  ASSERT_NE(small.Port(), 0);
  accounts.Add({"00000002", "big@club.example", "127.0.0.1", small.Port()});
  MapiMessage tooBig = Message({"anna@team.example"});
  tooBig.lpOriginator = MapiRecipDesc{0, MAPI_ORIG, "", "big@club.example"};
  tooBig.lpFiles.push_back({0, 0, -1, WriteFile("big.avi", RandomBytes(64 * 1024)), {}});
  EXPECT_EQ(MAPISendMail(0, nullptr, tooBig, 0), MAPI_E_FAILURE);
  EXPECT_TRUE(MapiLastErrorText().contains("552")) << MapiLastErrorText().toStdString();
  EXPECT_TRUE(small.Messages().empty());

  server.Stop();
  EXPECT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example"}), 0), MAPI_E_NETWORK_FAILURE);
  EXPECT_TRUE(MapiLastErrorText().contains(QString::number(server.Port()))) << MapiLastErrorText().toStdString();
}

TEST_F(MapiPostMail, ThePasswordComesFromNetrcElseIsAskedOnceHidden) {
  accounts.Add({"00000001", "coach@club.example", "127.0.0.1", server.Port(), "coach"});
  QTemporaryDir home;
  const QByteArray oldHome = qgetenv("HOME");
  qputenv("HOME", home.path().toLocal8Bit());
  dialogs.dialogs.Push(QString("s3cret"));
  EXPECT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example"}), 0), SUCCESS_SUCCESS);
  EXPECT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example"}), 0), SUCCESS_SUCCESS);
  ASSERT_EQ(dialogs.dialogs.Asked().size(), 1u);
  const auto* asked = std::get_if<ui::InputRequest>(&dialogs.dialogs.Asked()[0]);
  ASSERT_TRUE(asked);
  EXPECT_TRUE(asked->hidden);
  EXPECT_TRUE(asked->prompt.contains("coach"));

  // With the password in ~/.netrc nothing is asked.
  ForgetPasswords();
  QFile netrc(home.filePath(".netrc"));
  ASSERT_TRUE(netrc.open(QIODevice::WriteOnly));
  netrc.write("machine 127.0.0.1 login coach password fromfile\n");
  netrc.close();
  EXPECT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example"}), 0), SUCCESS_SUCCESS);
  EXPECT_EQ(dialogs.dialogs.Asked().size(), 1u);

  // Cancelling the question sends nothing.
  QFile::remove(netrc.fileName());
  ForgetPasswords();
  dialogs.dialogs.Push(std::monostate{});
  EXPECT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example"}), 0), MAPI_USER_ABORT);
  EXPECT_EQ(server.Messages().size(), 3u);
  qputenv("HOME", oldHome);
}

TEST_F(MapiPostMail, TheReviewBoxCanCallTheSendOff) {
  dialogs.dialogs.Push(ui::mrCancel);
  EXPECT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example"}, {"ben@team.example"}), MAPI_DIALOG),
            MAPI_USER_ABORT);
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].contains("Bcc: ben@team.example"));
  dialogs.dialogs.Push(ui::mrOk);
  EXPECT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example"}), MAPI_DIALOG), SUCCESS_SUCCESS);
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(MapiPostMail, TheAddressBookOffersEarlierRecipientsIntoThreeLists) {
  ASSERT_EQ(MAPISendMail(0, nullptr, Message({"anna@team.example", "ben@team.example"}), 0), SUCCESS_SUCCESS);
  dialogs.dialogs.Push(ui::AddressLists{{"anna@team.example"}, {"ben@team.example"}, {" ", "c@d.example"}});
  std::vector<MapiRecipDesc> chosen;
  ASSERT_EQ(MAPIAddress(0, nullptr, "Address Book", 4, {}, {}, 0, 0, &chosen), SUCCESS_SUCCESS);
  const auto* asked = std::get_if<ui::AddressBookRequest>(&dialogs.dialogs.Asked().back());
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->known, QStringList({"anna@team.example", "ben@team.example"}));
  ASSERT_EQ(chosen.size(), 3u);
  EXPECT_EQ(chosen[0].ulRecipClass, MAPI_TO);
  EXPECT_EQ(chosen[1].ulRecipClass, MAPI_CC);
  EXPECT_EQ(chosen[2].ulRecipClass, MAPI_BCC);
  EXPECT_EQ(chosen[2].lpszAddress, "SMTP:c@d.example");
  dialogs.dialogs.Push(std::monostate{});
  EXPECT_EQ(MAPIAddress(0, nullptr, "Address Book", 4, {}, {}, 0, 0, &chosen), MAPI_USER_ABORT);
}

TEST(MailText, NetrcEntriesAndEncodedWords) {
  const QString netrc =
      "# comment\nmachine smtp.a.example login coach password one\n"
      "macdef init\nmachine smtp.b.example password trap\n\n"
      "machine smtp.b.example\n  login other password two\ndefault login coach password fallback\n";
  EXPECT_EQ(NetrcPassword(netrc, "smtp.a.example", "coach"), QString("one"));
  EXPECT_EQ(NetrcPassword(netrc, "SMTP.A.example", "coach"), QString("one"));
  EXPECT_EQ(NetrcPassword(netrc, "smtp.b.example", "other"), QString("two"));
  EXPECT_EQ(NetrcPassword(netrc, "smtp.b.example", "coach"), QString("fallback"));
  EXPECT_EQ(NetrcPassword(netrc, "smtp.c.example", "nobody"), std::nullopt);

  // Encoded words stay within 75 characters and never split a character.
  const QString subject = QString(40, QChar(0x00DC)) + "\xF0\x9F\x98\x80";
  for (const QByteArray& line : EncodeHeaderText(QString::fromUtf8(subject.toUtf8())).split('\n'))
    EXPECT_LE(line.trimmed().size(), 75);
  EXPECT_EQ(EncodeHeaderText("plain"), "plain");
  EXPECT_EQ(FileNameParameter("filename", "a \"b\".avi"), "filename=\"a \\\"b\\\".avi\"");
  EXPECT_EQ(FileNameParameter("filename", QString::fromUtf8("\xC3\xBC.txt")), "filename*=UTF-8''%C3%BC.txt");
}

}  // namespace
}  // namespace kestrom::mail
