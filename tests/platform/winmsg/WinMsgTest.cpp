#include "platform/winmsg/WidgetWindow.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/platform/winmsg/PeerProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kestrom::winmsg;
using kestrom::test::PeerProcess;
using kestrom::test::WaitUntil;

namespace {

constexpr char kTitle[] = "Peer Visible";
constexpr char kClass[] = "TPeerForm";
constexpr char kHiddenTitle[] = "Kestrom Systems Ltd.   Measuring Motion Frame by Frame...";
constexpr char kHiddenClass[] = "TSendMailForm";

class WinMsgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qputenv("KESTROM_RUNTIME_DIR", dir_.filePath("run").toLocal8Bit());
  }
  void TearDown() override { Shutdown(); }

  QTemporaryDir dir_;
};

bool Listed(HWND hwnd) {
  for (const WindowInfo& w : EnumWindows())
    if (w.handle == hwnd) return true;
  return false;
}

// Opens a raw connection to a program's message socket, as a misbehaving client would.
int RawConnect(int64_t pid) {
  const QByteArray path = SocketPath(pid).toLocal8Bit();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.constData(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST_F(WinMsgTest, RuntimeFolderIsPrivate) {
  const QString dir = RuntimeDir();
  ASSERT_FALSE(dir.isEmpty());
  struct stat st {};
  ASSERT_EQ(lstat(dir.toLocal8Bit().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, getuid());
}

TEST_F(WinMsgTest, FindsOwnWindowsAndFollowsAWidget) {
  Window plain("TDiagForm806", "DiagForm806", false);
  EXPECT_EQ(FindWindow("tdiagform806", ""), plain.Handle());  // class names ignore letter case
  EXPECT_EQ(FindWindow("", "DiagForm806"), plain.Handle());
  EXPECT_EQ(GetWindowText(plain.Handle(), 133), "DiagForm806");
  plain.SetTitle(QString(140, 'x'));
  EXPECT_EQ(GetWindowText(plain.Handle(), 133), QString(132, 'x'));  // a 133-character buffer holds 132
  EXPECT_EQ(ProcessOf(plain.Handle()), getpid());

  HWND formHandle = 0;
  {
    QWidget form;
    form.setWindowTitle("Main");
    WidgetWindow* entry = WidgetWindow::Attach(&form, "TKestromForm");
    formHandle = entry->Handle();
    EXPECT_EQ(WidgetWindow::Attach(&form), entry);  // one registration per form
    auto info = GetWindowInfo(formHandle);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->className, "TKestromForm");
    EXPECT_FALSE(info->visible);

    form.show();
    form.setWindowTitle("C:/videos/jump");
    info = GetWindowInfo(formHandle);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->visible);
    EXPECT_EQ(info->title, "C:/videos/jump");
    form.hide();
    EXPECT_FALSE(GetWindowInfo(formHandle)->visible);
  }
  EXPECT_FALSE(IsWindow(formHandle));  // the registration ended with the form
  EXPECT_EQ(FindWindow("TKestromForm", ""), 0u);
}

namespace listing {
// A form class in a namespace, as the programs' forms are.
class TCaptureDiagForm : public QWidget {
  Q_OBJECT
};
}  // namespace listing

TEST_F(WinMsgTest, ProgramFormsAreListedByTheirBareClassNames) {
  listing::TCaptureDiagForm hidden;
  hidden.setWindowTitle("CaptureDiagForm");
  QWidget shown;
  shown.setWindowTitle("Kestrom Ruvodo Capture");
  WidgetWindow::Attach(&shown, "TKestromCaptureForm");  // listed already: keeps its class
  shown.show();
  QMenu menu;

  ListFormsInWindowDirectory();
  const WidgetWindow* entry = WidgetWindow::Of(&hidden);
  ASSERT_TRUE(entry);
  auto info = GetWindowInfo(entry->Handle());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->className, "TCaptureDiagForm");
  EXPECT_EQ(info->title, "CaptureDiagForm");
  EXPECT_FALSE(info->visible);
  EXPECT_EQ(GetWindowInfo(WidgetWindow::Of(&shown)->Handle())->className, "TKestromCaptureForm");
  EXPECT_FALSE(WidgetWindow::Of(&menu));
  ListFormsInWindowDirectory();  // listing again adds nothing
  EXPECT_EQ(WidgetWindow::Of(&hidden), entry);
}

TEST_F(WinMsgTest, MessagesToOwnWindows) {
  std::vector<std::pair<uint32_t, uintptr_t>> seen;
  Window window("TKestromForm", "Main", true, [&](uint32_t msg, uintptr_t w, intptr_t l, const CopyData* cd) {
    seen.emplace_back(msg, w);
    return cd ? intptr_t(cd->cbData) : intptr_t(w) * 10 + l;
  });
  // A send from the GUI thread runs the handler at once.
  EXPECT_EQ(SendMessage(window.Handle(), 0x2741, 4, 2), 42);
  const QByteArray bytes("a\0b", 3);
  EXPECT_EQ(SendCopyData(window.Handle(), window.Handle(), 7, bytes).result, 3);
  // A post waits for the event loop.
  seen.clear();
  ASSERT_TRUE(PostMessage(window.Handle(), 0x2741, 9, 0));
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(WaitUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen.front().second, 9u);
  // A send from a worker thread is delivered on the GUI thread.
  std::thread worker([&] { EXPECT_EQ(SendMessageTimeout(window.Handle(), WM_USER, 5, 1, 10000).result, 51); });
  EXPECT_TRUE(WaitUntil([&] { return seen.size() == 2; }));
  worker.join();

  EXPECT_FALSE(PostMessage(window.Handle(), WM_COPYDATA, 0, 0));  // its data would outlive the call
  EXPECT_FALSE(SendMessageTimeout(0, WM_USER, 0, 0));
  EXPECT_FALSE(SendMessageTimeout(window.Handle() + 1, WM_USER, 0, 0));
}

TEST_F(WinMsgTest, QuitRunsTheQuitHandler) {
  int quits = 0;
  SetQuitHandler([&] { ++quits; });
  Window window("TKestromCaptureForm", "Kestrom Ruvodo Capture");
  ASSERT_TRUE(PostMessage(window.Handle(), WM_QUIT, 0, 0));
  EXPECT_TRUE(WaitUntil([&] { return quits == 1; }));
  SetQuitHandler({});
}

TEST_F(WinMsgTest, ApplicationTitleIsAHiddenWindow) {
  SetApplicationTitle("Kestrom Ruvodo Capture");
  const HWND app = ApplicationWindow();
  ASSERT_NE(app, 0u);
  const auto info = GetWindowInfo(app);
  EXPECT_EQ(info->className, "TApplication");
  EXPECT_FALSE(info->visible);
  EXPECT_EQ(FindWindow("", "Kestrom Ruvodo Capture"), app);
  SetApplicationTitle("");
  EXPECT_EQ(ApplicationWindow(), 0u);
  EXPECT_FALSE(IsWindow(app));
}

TEST_F(WinMsgTest, StaleEntriesArePruned) {
  Window mine("TKestromForm", "Main");  // makes the folder
  // Entries left by processes that no longer run: a pid beyond any real one, and a socket alone.
  const QString dir = RuntimeDir();
  QFile win(dir + "/999999999.win");
  ASSERT_TRUE(win.open(QIODevice::WriteOnly));
  win.write("kestrom-windows 1\nprocess 999999999 1\nwindow 3b9ac9ff00000001 1 TGhost Ghost\n");
  win.close();
  QFile sock(dir + "/999999998.sock");
  ASSERT_TRUE(sock.open(QIODevice::WriteOnly));
  sock.close();

  EXPECT_EQ(FindWindow("", "Ghost"), 0u);
  EXPECT_FALSE(QFile::exists(dir + "/999999999.win"));
  EXPECT_FALSE(QFile::exists(dir + "/999999998.sock"));
  EXPECT_EQ(FindWindow("", "Main"), mine.Handle());
}

// The numbering's first choice for a name (FNV-1a of the upper-case name over the 0x4000 numbers);
// used only to pick names that compete for one number.
uint32_t FirstChoice(const QString& name) {
  uint32_t h = 2166136261u;
  for (const char c : name.toUpper().toUtf8()) {
    h ^= uint8_t(c);
    h *= 16777619u;
  }
  return h % 0x4000;
}

TEST_F(WinMsgTest, RegisteredMessagesAgreeAcrossProcesses) {
  // Three pairs of names that compete for one number, as the per-start names "WMNI<ticks>" can.
  QStringList names;
  QHash<uint32_t, QString> firstByChoice;
  for (int i = 0; names.size() < 6 && i < 1000000; ++i) {
    const QString name = QStringLiteral("WMNI%1").arg(i);
    const uint32_t choice = FirstChoice(name);
    if (const auto it = firstByChoice.constFind(choice); it != firstByChoice.constEnd()) {
      if (!it->isEmpty() && !names.contains(*it)) names << *it << name;
    } else {
      firstByChoice.insert(choice, name);
    }
  }
  ASSERT_EQ(names.size(), 6);
  names << "WMNW1" << "SyncCommand";
  QMap<QString, uint32_t> mine;
  QSet<uint32_t> numbers;
  for (const QString& name : names) {
    const uint32_t n = RegisterWindowMessage(name);
    EXPECT_GE(n, 0xC000u);
    EXPECT_LE(n, 0xFFFFu);
    mine.insert(name, n);
    numbers.insert(n);
  }
  EXPECT_EQ(numbers.size(), names.size());
  EXPECT_EQ(RegisterWindowMessage(names[1].toLower()), mine[names[1]]);  // names ignore letter case
  EXPECT_EQ(RegisterWindowMessage(""), 0u);

  // The other program asks in the opposite order and still gets the same numbers.
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass, {"--register", names.join(',')});
  ASSERT_TRUE(peer.Ready());
  for (int i = 0; i < names.size(); ++i) {
    const QStringList line = peer.WaitForLine("registered ").split(' ');
    ASSERT_EQ(line.size(), 3);
    EXPECT_EQ(line[2].toUInt(nullptr, 16), mine.value(line[1])) << qPrintable(line[1]);
  }
}

TEST_F(WinMsgTest, AFullMessageTableTakesBackNumbersOfEndedPrograms) {
  // Every number taken: by programs that have ended, or by this one.
  for (const int64_t owner : {int64_t(999999999), int64_t(getpid())}) {
    QByteArray table;
    for (uint32_t n = 0xC000; n <= 0xFFFF; ++n)
      table += QByteArray::number(n, 16) + ' ' + QByteArray::number(qint64(owner)) + " OLD" + QByteArray::number(n) + '\n';
    QFile file(RuntimeDir() + "/messages");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(table);
    file.close();
    const QString name = QStringLiteral("NEW%1").arg(owner);
    const uint32_t n = RegisterWindowMessage(name);
    if (owner == getpid()) {
      EXPECT_EQ(n, 0u);  // all in use: no number rather than a shared one
    } else {
      EXPECT_GE(n, 0xC000u);
      EXPECT_EQ(RegisterWindowMessage(name), n);
    }
  }
}

TEST_F(WinMsgTest, FindsTheOtherProgramsWindows) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass, {"--app-title", "Kestrom Ruvodo Capture"});
  ASSERT_TRUE(peer.Ready());
  EXPECT_EQ(ProcessOf(peer.Hidden()), peer.Pid());

  // The hidden window by title, by class and by both; titles ignore letter case as FindWindow does.
  EXPECT_EQ(FindWindow("", kHiddenTitle), peer.Hidden());
  EXPECT_EQ(FindWindow(kHiddenClass, ""), peer.Hidden());
  EXPECT_EQ(FindWindow(kHiddenClass, kHiddenTitle), peer.Hidden());
  EXPECT_EQ(FindWindow("", QString(kHiddenTitle).toUpper()), peer.Hidden());
  EXPECT_EQ(FindWindow("", QString(kHiddenTitle).toUpper(), Qt::CaseSensitive), 0u);
  EXPECT_EQ(FindWindow("", QString(kHiddenTitle) + " "), 0u);
  EXPECT_EQ(FindWindow(kClass, kHiddenTitle), 0u);
  EXPECT_NE(FindWindow("TApplication", "Kestrom Ruvodo Capture"), 0u);

  int visible = 0, hidden = 0;
  for (const WindowInfo& w : EnumWindows()) {
    if (w.handle == peer.Visible()) visible += w.visible ? 1 : 100;
    if (w.handle == peer.Hidden()) hidden += w.visible ? 100 : 1;
  }
  EXPECT_EQ(visible, 1);
  EXPECT_EQ(hidden, 1);

  // A caption change in the other program is seen as soon as its handler has run.
  ASSERT_EQ(SendMessage(peer.Visible(), WM_USER + 1, 5, 0), 1);
  EXPECT_EQ(FindWindow("", QString(kTitle) + " #5"), peer.Visible());
  EXPECT_EQ(FindWindow("", kTitle), 0u);
}

TEST_F(WinMsgTest, CopyDataArrivesWholeAndIsAnsweredBack) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass);
  ASSERT_TRUE(peer.Ready());
  QByteArray echo;
  uintptr_t echoData = 0;
  HWND echoFrom = 0;
  Window self("TKestromForm", "Main", true, [&](uint32_t msg, uintptr_t wParam, intptr_t lParam, const CopyData* cd) {
    if (msg != WM_COPYDATA) return intptr_t(0);
    EXPECT_EQ(reinterpret_cast<const CopyData*>(lParam), cd);
    echo = QByteArray(static_cast<const char*>(cd->lpData), cd->cbData);
    echoData = cd->dwData;
    echoFrom = wParam;
    return intptr_t(0);
  });

  // A VideoCreatedNotice-like text with its zero byte, zero bytes inside, and a large binary block.
  QByteArray big(1 << 20, '\0');
  for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7 + (i >> 9));
  const QList<QByteArray> cases = {QByteArray("00050.00C:/KestromWORKING/Temp/out.avi", 39),
                                   QByteArray("\0\0a\0b\0", 6), QByteArray(), big};
  for (const QByteArray& bytes : cases) {
    echo = "unset";
    intptr_t expected = bytes.size();
    for (const char c : bytes) expected = intptr_t((uint64_t(expected) * 31 + uint8_t(c)) % 1000000007u);
    const SendResult r = SendCopyData(peer.Hidden(), self.Handle(), 0x55, bytes);
    ASSERT_TRUE(r) << qPrintable(r.error);
    EXPECT_EQ(r.result, expected) << bytes.size();
    EXPECT_EQ(peer.WaitForLine("copydata "), QStringLiteral("copydata %1").arg(bytes.size()));
    ASSERT_TRUE(WaitUntil([&] { return echo != "unset"; }));
    EXPECT_EQ(echo, bytes);
    EXPECT_EQ(echoData, 0x56u);
    EXPECT_EQ(echoFrom, peer.Visible());
  }
  EXPECT_FALSE(SendCopyData(peer.Hidden(), self.Handle(), 0, QByteArray(kMaxCopyDataBytes + 1, 'x')));
}

TEST_F(WinMsgTest, QuitEndsTheOtherProgramCleanly) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass);
  ASSERT_TRUE(peer.Ready());
  const QString dir = RuntimeDir();
  const int64_t pid = peer.Pid();
  ASSERT_TRUE(PostMessage(FindWindow("", kHiddenTitle), WM_QUIT, 0, 0));
  ASSERT_TRUE(peer.Process().waitForFinished(10000));
  EXPECT_EQ(peer.Process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(peer.Process().exitCode(), 0);
  // It took its entries with it.
  EXPECT_FALSE(QFile::exists(QStringLiteral("%1/%2.win").arg(dir).arg(pid)));
  EXPECT_FALSE(QFile::exists(SocketPath(pid)));
  EXPECT_EQ(FindWindow("", kHiddenTitle), 0u);
  EXPECT_FALSE(PostMessage(peer.Hidden(), WM_QUIT, 0, 0));
}

TEST_F(WinMsgTest, KilledProgramDisappears) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass);
  ASSERT_TRUE(peer.Ready());
  const int64_t pid = peer.Pid();
  ASSERT_TRUE(Listed(peer.Hidden()));
  ::kill(pid, SIGKILL);
  ASSERT_TRUE(peer.Process().waitForFinished(10000));
  EXPECT_FALSE(Listed(peer.Hidden()));
  EXPECT_FALSE(Listed(peer.Visible()));
  EXPECT_FALSE(QFile::exists(SocketPath(pid)));
  const SendResult r = SendMessageTimeout(peer.Hidden(), WM_USER + 3, 1, 2, 1000);
  EXPECT_FALSE(r);
  EXPECT_FALSE(r.error.isEmpty());
}

TEST_F(WinMsgTest, MalformedAndOversizedMessagesAreRefused) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass);
  ASSERT_TRUE(peer.Ready());
  const uint64_t target = peer.Visible();
  auto header = [&](uint32_t msg, uint32_t flags, uint32_t cbData) {
    QByteArray h(56, '\0');
    const uint32_t magic = 0x314D574B;
    const uint16_t version = 1, kind = 1;
    std::memcpy(h.data(), &magic, 4);
    std::memcpy(h.data() + 4, &version, 2);
    std::memcpy(h.data() + 6, &kind, 2);
    std::memcpy(h.data() + 8, &target, 8);
    std::memcpy(h.data() + 16, &msg, 4);
    std::memcpy(h.data() + 20, &flags, 4);
    std::memcpy(h.data() + 48, &cbData, 4);
    return h;
  };
  const struct {
    const char* what;
    QByteArray bytes;
  } cases[] = {
      {"garbage", QByteArray(56, '\xAB')},
      {"a payload far beyond the bound", header(WM_COPYDATA, 1, 0x7FFFFFFF)},
      {"copy data flag on another message", header(WM_USER, 1, 4) + "abcd"},
      {"half a header", header(WM_USER, 0, 0).left(20)},
      {"a payload cut short", header(WM_COPYDATA, 1, 100) + "only a little"},
  };
  for (const auto& c : cases) {
    const int fd = RawConnect(peer.Pid());
    ASSERT_GE(fd, 0) << c.what;
    ASSERT_EQ(::send(fd, c.bytes.constData(), c.bytes.size(), MSG_NOSIGNAL), c.bytes.size()) << c.what;
    ::shutdown(fd, SHUT_WR);
    char reply[24];
    const ssize_t n = ::recv(fd, reply, sizeof reply, 0);  // refused with an answer, or just closed
    uint32_t status = 0;
    if (n == 24) std::memcpy(&status, reply + 8, 4);
    EXPECT_TRUE(n == 0 || (n == 24 && status == 2)) << c.what << " got " << n;
    ::close(fd);
    // The program still answers.
    const SendResult r = SendMessageTimeout(target, WM_USER + 3, 40, 2, 5000);
    ASSERT_TRUE(r) << c.what << ": " << qPrintable(r.error);
    EXPECT_EQ(r.result, 42);
  }
  EXPECT_EQ(peer.Process().state(), QProcess::Running);
}

TEST_F(WinMsgTest, SendToAHungProgramTimesOut) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass);
  ASSERT_TRUE(peer.Ready());
  // The first message blocks the other program's GUI thread; neither it nor a later one comes back.
  for (const int timeout : {300, 200}) {
    QElapsedTimer clock;
    clock.start();
    const SendResult r = SendMessageTimeout(peer.Visible(), WM_USER + 2, 0, 0, timeout);
    const qint64 elapsed = clock.elapsed();
    EXPECT_FALSE(r);
    EXPECT_GE(elapsed, timeout - 20);
    EXPECT_LT(elapsed, timeout + 2000);
  }
  // A post is accepted by the listener even while the GUI thread hangs.
  EXPECT_TRUE(PostMessage(peer.Visible(), WM_USER + 4, 1, 0));
}

TEST_F(WinMsgTest, ProgramsSendingToEachOtherDoNotLockUp) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass);
  ASSERT_TRUE(peer.Ready());
  Window self("TKestromForm", "Main", true, [](uint32_t msg, uintptr_t, intptr_t, const CopyData*) {
    return msg == WM_USER + 6 ? intptr_t(41) : intptr_t(0);
  });
  // The other program asks us back while we wait for its answer; we answer from inside the wait.
  QElapsedTimer clock;
  clock.start();
  const SendResult r = SendMessageTimeout(peer.Visible(), WM_USER + 5, self.Handle(), 0, 10000);
  ASSERT_TRUE(r) << qPrintable(r.error);
  EXPECT_EQ(r.result, 42);
  EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(WinMsgTest, PostedMessagesKeepTheirOrder) {
  PeerProcess peer(kTitle, kClass, kHiddenTitle, kHiddenClass);
  ASSERT_TRUE(peer.Ready());
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(PostMessage(peer.Hidden(), WM_USER + 4, i, 0));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(peer.WaitForLine("posted "), QStringLiteral("posted %1").arg(i));
}

}  // namespace

#include "WinMsgTest.moc"
