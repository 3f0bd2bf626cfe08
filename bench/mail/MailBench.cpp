// Mailing a 200 MB video to an SMTP server on this machine: how much the program's resident
// memory grows while the attachment goes out (it is read from disk piece by piece, so the growth
// should stay under a tenth of the file). The time is mostly the test server's own.
#include "platform/mail/SimpleMapi.h"
#include "platform/registry/Registry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <string>

using namespace kestrom;

namespace {

constexpr qint64 kAttachmentBytes = 200 * 1024 * 1024;

// Resident set and its peak, in bytes, from /proc/self/status.
qint64 StatusField(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::strlen(field))) * 1024;
  return -1;
}

void ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the send pumps this thread's events while its worker uploads
  QTemporaryDir folder;
  registry::SetRegistryDirectory(folder.filePath("registry"));

  QProcess server;
  server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  server.start("/usr/bin/python3", {KESTROM_SMTP_SERVER, "--store", folder.filePath("mail"), "--discard"});
  server.waitForStarted(10000);
  while (server.state() == QProcess::Running && !server.canReadLine()) server.waitForReadyRead(200);
  const QByteArray ready = server.readLine().trimmed();
  if (!ready.startsWith("ready ")) {
    std::fprintf(stderr, "the SMTP server did not start (python3-aiosmtpd)\n");
    return 1;
  }
  {
    registry::TRegistry reg;
    reg.OpenKey("\\Software\\Microsoft\\Internet Account Manager", true);
    reg.WriteString("Default Mail Account", "00000001");
    reg.OpenKey("\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001", true);
    reg.WriteString("SMTP Email Address", "coach@club.example");
    reg.WriteString("SMTP Server", "127.0.0.1");
    reg.WriteInteger("SMTP Port", ready.mid(6).toInt());
  }

  const QString video = folder.filePath("jump.avi");
  {
    QFile file(video);
    file.open(QIODevice::WriteOnly);
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 9));
    for (qint64 written = 0; written < kAttachmentBytes; written += block.size()) file.write(block);
  }

  mail::MapiMessage message;
  message.lpszSubject = "Jump";
  message.lpszNoteText = "The whole session.\r\n";
  message.lpRecips.push_back({0, mail::MAPI_TO, "anna@team.example", "SMTP:anna@team.example"});
  message.lpFiles.push_back({0, 0, -1, video, {}});

  QElapsedTimer timer;
  const qint64 before = StatusField("VmRSS:");
  ResetPeakResident();
  timer.start();
  const mail::ULONG code = mail::MAPISendMail(0, nullptr, message, 0);
  const double sendSeconds = timer.nsecsElapsed() / 1e9;
  const qint64 peak = StatusField("VmHWM:");
  server.closeWriteChannel();
  server.waitForFinished(30000);
  if (code != mail::SUCCESS_SUCCESS) {
    std::fprintf(stderr, "sending failed (%u): %s\n", code, qPrintable(mail::MapiLastErrorText()));
    return 1;
  }
  const double growth = static_cast<double>(peak - before);
  std::printf("mail 200 MB attachment: resident memory grew by %.1f MB = %.4f of the attachment "
              "(must stay under 0.1)\n",
              growth / (1024 * 1024), growth / kAttachmentBytes);
  std::printf("mail 200 MB attachment: sent in %.2f s\n", sendSeconds);
  return 0;
}
