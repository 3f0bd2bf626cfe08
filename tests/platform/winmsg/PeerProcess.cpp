#include "tests/platform/winmsg/PeerProcess.h"

#include "tests/TestSupport.h"

namespace kestrom::test {

PeerProcess::PeerProcess(const QString& title, const QString& className, const QString& hiddenTitle,
                         const QString& hiddenClass, const QStringList& extra) {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(BinPath("winmsg-peer"), QStringList{"--title", title, "--class", className, "--hidden-title",
                                                     hiddenTitle, "--hidden-class", hiddenClass} + extra);
  const QStringList ready = WaitForLine("ready ").split(' ');
  if (ready.size() == 3) {
    visible_ = ready[1].toULongLong(nullptr, 16);
    hidden_ = ready[2].toULongLong(nullptr, 16);
  }
}

PeerProcess::~PeerProcess() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(10000);
  }
}

QString PeerProcess::WaitForLine(const QString& prefix, int boundMs) {
  QString found;
  WaitUntil(
      [&] {
        while (process_.canReadLine()) lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        for (int i = 0; i < lines_.size(); ++i) {
          if (lines_[i].startsWith(prefix)) {
            found = lines_.takeAt(i);
            return true;
          }
        }
        return process_.state() == QProcess::NotRunning && !process_.canReadLine();
      },
      boundMs);
  return found;
}

}  // namespace kestrom::test
